#include "whole_io.hpp"

#include <cerrno>
#include <unistd.h>

namespace {

// The one loop behind both: call(done) moves bytes from offset done on. A
// short transfer is continued; a call that moves nothing or fails ends it,
// unless it was interrupted and that is to be retried.
template <typename Call>
bool transfer_fully(size_t count, bool retry_interrupted, Call call)
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = call(done);
        if (n < 0 && errno == EINTR && retry_interrupted)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool write_fully(int fd, const void *buffer, size_t count)
{
    const char *bytes = static_cast<const char *>(buffer);
    return transfer_fully(count, true,
                          [&](size_t done) { return write(fd, bytes + done, count - done); });
}

bool read_fully(int fd, void *buffer, size_t count, interrupted_read interrupted)
{
    char *bytes = static_cast<char *>(buffer);
    return transfer_fully(count, interrupted == interrupted_read::is_retried,
                          [&](size_t done) { return read(fd, bytes + done, count - done); });
}
