#pragma once

#include <string>

// Frames on a pipe, for the programs that play the browser: a 4-byte length in
// native byte order, then the body. Both continue short transfers and retry
// interrupted ones (whole_io.hpp).

// Gives false when the frame did not go out whole (errno tells why).
bool write_frame(int fd, const std::string &body);

// Gives false at the end of the input, also when it cuts a frame short, and
// when a read fails; *body then holds no whole frame.
bool read_frame(int fd, std::string *body);
