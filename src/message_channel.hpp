#pragma once

#include <cstdint>

// Reads the one request frame from descriptor 0, never a byte beyond it.
// Gives the body followed by a NUL byte (the caller frees it) and its length
// in *length; null after a message on standard error, with nothing left
// allocated.
char *read_request_message(uint32_t *length);

// Writes text, without its NUL, as one frame on descriptor 1. The caller keeps
// the text. Gives true when the whole frame went out; false after a message on
// standard error.
bool write_response_message(const char *text);
