#pragma once

#include <cstddef>

// Writes all count bytes of buffer to fd: a short write is continued and an
// interrupted one retried. Gives false when a write fails (errno tells why)
// or writes nothing.
bool write_fully(int fd, const void *buffer, size_t count);
