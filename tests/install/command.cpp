#include "command.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<char *> c_strings(std::vector<std::string> &strings)
{
    std::vector<char *> pointers;
    for (std::string &s : strings)
        pointers.push_back(&s[0]);
    pointers.push_back(nullptr);
    return pointers;
}

std::string read_all(const std::string &path)
{
    std::string content;
    int fd = open(path.c_str(), O_RDONLY);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, static_cast<size_t>(n));
    if (fd >= 0)
        close(fd);
    return content;
}

void snapshot_below(const std::string &root, const std::string &relative,
                    std::map<std::string, std::string> *entries)
{
    DIR *dir = opendir((root + relative).c_str());
    if (!dir)
        return;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = relative + "/" + name;
        std::string full = root + path;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            (*entries)[path] = "dir";
            snapshot_below(root, path, entries);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlink(full.c_str(), target, sizeof target);
            (*entries)[path] = "link " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
        } else {
            char mode[8];
            snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode & 07777));
            (*entries)[path] = std::string("file ") + mode + " " + read_all(full);
        }
    }
    closedir(dir);
}

} // namespace

command_result run_command(const std::vector<std::string> &argv,
                           const std::vector<std::string> &env)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);

    std::vector<std::string> args = argv, environment = env;
    std::vector<char *> c_args = c_strings(args), c_env = c_strings(environment);
    pid_t pid;
    int rc = posix_spawn(&pid, c_args[0], &actions, nullptr, c_args.data(), c_env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("cannot start " + argv[0] + ": " + strerror(rc));
    }

    command_result result;
    struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    char buffer[4096];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        poll(fds, 2, -1);
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::map<std::string, std::string> tree_snapshot(const std::string &root)
{
    std::map<std::string, std::string> entries;
    snapshot_below(root, "", &entries);
    return entries;
}
