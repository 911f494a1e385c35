#pragma once

#include <cstddef>
#include <string>

// Whole reads and writes on a pipe, for the programs that play the browser.
// Both continue short transfers and retry interrupted ones; read_all gives
// false at end of input, also when it comes part way.
bool write_all(int fd, const void *data, size_t size);
bool read_all(int fd, void *data, size_t size);

// One frame: a 4-byte length in native byte order, then the body. read_frame
// gives false at the end of the input or when a frame is cut short.
bool write_frame(int fd, const std::string &body);
bool read_frame(int fd, std::string *body);
