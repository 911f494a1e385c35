#pragma once

// Reads the file at path whole and sends its content, up to its first NUL
// byte, as one response {"text": ...}. The caller keeps path. Gives true when
// the frame went out; false after a message on standard error, in which case
// nothing, or only what the channel's writer reported, was sent.
bool send_file_response(const char *path);
