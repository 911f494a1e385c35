#include "whole_io.hpp"

#include <cerrno>
#include <unistd.h>

namespace {

// The one loop behind both: call(done) moves bytes from offset done on. A
// short transfer is continued; a call that moves nothing or fails ends it,
// unless it was interrupted and that is to be retried. Once give_up is set,
// no call is made: it is looked at before every call, so that a signal that
// came between two calls does not leave the next one waiting.
template <typename Call>
bool transfer_fully(size_t count, bool retry_interrupted, const volatile sig_atomic_t *give_up,
                    Call call)
{
    size_t done = 0;
    while (done < count) {
        if (give_up && *give_up) {
            errno = EINTR;
            return false;
        }
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

bool write_fully(int fd, const void *buffer, size_t count, const volatile sig_atomic_t *give_up)
{
    const char *bytes = static_cast<const char *>(buffer);
    return transfer_fully(count, true, give_up,
                          [&](size_t done) { return write(fd, bytes + done, count - done); });
}

bool read_fully(int fd, void *buffer, size_t count, interrupted_read interrupted)
{
    char *bytes = static_cast<char *>(buffer);
    return transfer_fully(count, interrupted == interrupted_read::is_retried, nullptr,
                          [&](size_t done) { return read(fd, bytes + done, count - done); });
}
