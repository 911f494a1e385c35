// The benchmark's editor. It notes the moment it starts, then does what the
// benchmark writes on the control FIFO, one byte a command, and notes when
// each action returned:
//
//   s   save: replace the file's content in place with "save N\n"
//   t   touch: set the file's modification time to now
//   q   quit
//
// Notes go to the log file, one per line: "start NS", "save N NS",
// "touch NS", NS being CLOCK_MONOTONIC in nanoseconds. The file to edit is
// the last argument, as the host passes it; the log and the FIFO are named by
// ZURAZE_BENCH_LOG and ZURAZE_BENCH_CONTROL, which reach it through the host's
// environment.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long long monotonic_ns()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

void note(int log, const char *line)
{
    if (write(log, line, strlen(line)) < 0)
        _exit(3);
}

bool save(const char *path, int number, int log)
{
    char content[32];
    int length = snprintf(content, sizeof content, "save %d\n", number);
    int fd = open(path, O_WRONLY | O_TRUNC);
    if (fd < 0)
        return false;
    bool written = write(fd, content, static_cast<size_t>(length)) == length;
    long long done = monotonic_ns();
    close(fd);
    char line[64];
    snprintf(line, sizeof line, "save %d %lld\n", number, done);
    note(log, line);
    return written;
}

bool touch(const char *path, int log)
{
    bool touched = utimensat(AT_FDCWD, path, nullptr, 0) == 0;
    char line[64];
    snprintf(line, sizeof line, "touch %lld\n", monotonic_ns());
    note(log, line);
    return touched;
}

} // namespace

int main(int argc, char **argv)
{
    long long started = monotonic_ns();
    const char *log_path = getenv("ZURAZE_BENCH_LOG");
    const char *control_path = getenv("ZURAZE_BENCH_CONTROL");
    if (argc < 2 || !log_path || !control_path)
        return 2;
    const char *path = argv[argc - 1];

    int log = open(log_path, O_WRONLY | O_APPEND | O_CREAT, 0600);
    int control = open(control_path, O_RDONLY);
    if (log < 0 || control < 0)
        return 2;
    char line[64];
    snprintf(line, sizeof line, "start %lld\n", started);
    note(log, line);

    int saves = 0;
    char command;
    while (read(control, &command, 1) == 1) {
        bool done = true;
        if (command == 's')
            done = save(path, ++saves, log);
        else if (command == 't')
            done = touch(path, log);
        else if (command == 'q')
            return 0;
        if (!done)
            return 1;
    }
    return 0;
}
