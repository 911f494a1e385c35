#include "early_exit.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// An editor that stays for the edit lives longer than this; one that hands
// the file to an instance already running returns in a fraction of it.
constexpr uint64_t early_exit_ms = 1000;

// How much of the file is compared with the text at a time.
constexpr size_t compare_chunk = 4096;

bool same_file(const edit_start *start, const struct stat &now)
{
    return start->file_seen && now.st_dev == start->device && now.st_ino == start->inode &&
           now.st_size == start->size && now.st_mtim.tv_sec == start->modified.tv_sec &&
           now.st_mtim.tv_nsec == start->modified.tv_nsec;
}

// Whether the open file holds exactly text: a save of the same bytes within
// the file system's clock tick leaves the time alone, so the bytes decide.
bool holds_exactly(int fd, const char *text, size_t text_length)
{
    char buffer[compare_chunk];
    size_t offset = 0;
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return offset == text_length;
        size_t got = static_cast<size_t>(n);
        if (got > text_length - offset || memcmp(buffer, text + offset, got) != 0)
            return false;
        offset += got;
    }
}

bool file_unchanged(const edit_start *start, const char *path, const char *text, size_t text_length)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return false;
    struct stat now;
    bool unchanged =
        fstat(fd, &now) == 0 && same_file(start, now) && holds_exactly(fd, text, text_length);
    close(fd);
    return unchanged;
}

} // namespace

void note_edit_start(uv_loop_t *loop, const char *path, edit_start *start)
{
    uv_update_time(loop);
    start->started_ms = uv_now(loop);
    struct stat now;
    start->file_seen = path && stat(path, &now) == 0;
    if (!start->file_seen)
        return;
    start->device = now.st_dev;
    start->inode = now.st_ino;
    start->size = now.st_size;
    start->modified = now.st_mtim;
}

void report_early_exit(uv_loop_t *loop, const edit_start *start, const char *editor_path,
                       const char *path, const char *text, size_t text_length)
{
    uint64_t elapsed = uv_now(loop) - start->started_ms;
    if (elapsed >= early_exit_ms || !path || !file_unchanged(start, path, text, text_length))
        return;
    fprintf(stderr,
            "The editor %s exited %ld ms after it started without changing the file; it may have "
            "handed the file to a window that was already open (see zuraze-host(1))\n",
            editor_path, static_cast<long>(elapsed));
}
