#include "write_fully.hpp"

#include <cerrno>
#include <unistd.h>

bool write_fully(int fd, const void *buffer, size_t count)
{
    const char *bytes = static_cast<const char *>(buffer);
    size_t written = 0;
    while (written < count) {
        ssize_t n = write(fd, bytes + written, count - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<size_t>(n);
    }
    return true;
}
