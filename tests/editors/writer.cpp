// The scripted editor's bursts of writes, done by this one process: a sh
// script would start a sleep between two writes, and on a loaded machine that
// start can take longer than the host's debounce.
//
//   writer burst GAP TEXT,TEXT,... FILE
//       replace the file's content in place with the first TEXT, then append
//       each next TEXT GAP seconds after the one before
//
// Exits with status 1 and a message on standard error when a call fails.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string &what)
{
    fprintf(stderr, "writer: %s: %s\n", what.c_str(), strerror(errno));
    exit(1);
}

void write_text(int fd, const std::string &text, const std::string &file)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail("write " + file);
        done += static_cast<size_t>(n);
    }
}

int open_file(const std::string &file, int flags)
{
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | flags, 0666);
    if (fd < 0)
        fail("open " + file);
    return fd;
}

void close_file(int fd, const std::string &file)
{
    if (close(fd) != 0)
        fail("close " + file);
}

std::vector<std::string> split(const std::string &list)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
        pieces.push_back(list.substr(start, comma - start));
    pieces.push_back(list.substr(start));
    return pieces;
}

void pause_for(double seconds)
{
    struct timespec gap;
    gap.tv_sec = static_cast<time_t>(seconds);
    gap.tv_nsec = static_cast<long>((seconds - static_cast<double>(gap.tv_sec)) * 1e9);
    while (nanosleep(&gap, &gap) != 0 && errno == EINTR) {
    }
}

void burst(double gap, const std::string &list, const std::string &file)
{
    std::vector<std::string> texts = split(list);
    for (size_t i = 0; i < texts.size(); i++) {
        if (i > 0)
            pause_for(gap);
        int fd = open_file(file, i == 0 ? O_TRUNC : O_APPEND);
        write_text(fd, texts[i], file);
        close_file(fd, file);
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "burst") {
        burst(strtod(args[1].c_str(), nullptr), args[2], args[3]);
        return 0;
    }
    fputs("usage: writer burst GAP TEXT,TEXT,... FILE\n", stderr);
    return 2;
}
