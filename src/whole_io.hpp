#pragma once

#include <csignal>
#include <cstddef>

// Whole reads and writes on a descriptor: the host's, and those of the programs
// that play the browser (zuraze-client, zuraze-bench).

// Writes all count bytes of buffer to fd: a short write is continued and an
// interrupted one retried, unless give_up is given and a signal handler has
// set it, which gives false with errno EINTR. Gives false when a write fails
// (errno tells why) or writes nothing.
bool write_fully(int fd, const void *buffer, size_t count,
                 const volatile sig_atomic_t *give_up = nullptr);

// What read_fully does with a read that a signal interrupted (EINTR). Each
// caller says it, because the two readers differ: the host's request reader
// has always taken an interrupted read as the end of its input, and keeps
// that; the programs that play the browser read again.
enum class interrupted_read {
    fails,
    is_retried,
};

// Reads exactly count bytes from fd into buffer, continuing short reads.
// Gives false at the end of the input (also part way, with some bytes of
// buffer filled) and when a read fails (errno tells why), which with
// interrupted_read::fails includes an interrupted one.
bool read_fully(int fd, void *buffer, size_t count, interrupted_read interrupted);
