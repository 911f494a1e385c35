#pragma once

#include <cstddef>

// True when the length bytes at bytes are well-formed UTF-8: every sequence
// is the shortest one for its code point, no code point is a surrogate
// (U+D800 to U+DFFF) or above U+10FFFF, and no sequence is cut short. A NUL
// byte is a valid character. bytes may be null when length is 0.
bool is_valid_utf8(const char *bytes, size_t length);
