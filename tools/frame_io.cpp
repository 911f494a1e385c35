#include "frame_io.hpp"

#include <cerrno>
#include <cstdint>
#include <unistd.h>

bool write_all(int fd, const void *data, size_t size)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool read_all(int fd, void *data, size_t size)
{
    char *bytes = static_cast<char *>(data);
    while (size > 0) {
        ssize_t n = read(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool write_frame(int fd, const std::string &body)
{
    uint32_t length = static_cast<uint32_t>(body.size());
    return write_all(fd, &length, sizeof length) && write_all(fd, body.data(), body.size());
}

bool read_frame(int fd, std::string *body)
{
    uint32_t length;
    if (!read_all(fd, &length, sizeof length))
        return false;
    body->resize(length);
    return read_all(fd, &(*body)[0], length);
}
