#include "host_runner.hpp"

#include "programs.hpp"
#include "scratch_dir.hpp"
#include "std_streams.hpp"

#include <cJSON.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef ZURAZE_HOST_PATH
#error "ZURAZE_HOST_PATH names the built host"
#endif

namespace {

std::vector<std::string> wrapper_words()
{
    std::vector<std::string> words;
    const char *wrapper = getenv("ZURAZE_TEST_WRAPPER");
    if (!wrapper)
        return words;
    std::istringstream in(wrapper);
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

void make_pipe(int fds[2])
{
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + strerror(errno));
}

[[noreturn]] void exec_host(const host_options &options, int in, int out, int err, int extra)
{
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (extra >= 0)
        dup2(extra, 3);
    if (options.stdout_gone)
        signal(SIGPIPE, SIG_IGN);
    if (options.file_size_limit >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlim_t limit = static_cast<rlim_t>(options.file_size_limit);
        struct rlimit rl = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
    }

    std::vector<std::string> words = options.wrapper.empty() ? wrapper_words() : options.wrapper;
    // The wrapper is looked up in the test's own PATH: the host's is a fixture.
    if (!words.empty() && words[0].find('/') == std::string::npos) {
        std::string found = find_program(words[0]);
        if (!found.empty())
            words[0] = found;
    }
    words.push_back(ZURAZE_HOST_PATH);
    words.insert(words.end(), options.args.begin(), options.args.end());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::vector<std::string> env = options.env;
    std::vector<char *> envp;
    for (std::string &entry : env)
        envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
}

void split_frames(const std::string &bytes, const std::vector<std::pair<size_t, double>> &arrivals,
                  host_result *result)
{
    size_t at = 0;
    size_t arrival = 0;
    while (bytes.size() - at >= 4) {
        uint32_t length;
        memcpy(&length, bytes.data() + at, 4);
        if (bytes.size() - at - 4 < length)
            break;
        size_t end = at + 4 + length;
        while (arrivals[arrival].first < end)
            arrival++;
        result->frames.push_back({bytes.substr(at + 4, length), arrivals[arrival].second});
        at = end;
    }
    result->stray_output = bytes.substr(at);
}

// True once pid blocks in read(0, ...), as /proc shows its system call (by
// number, which differs between architectures), or has exited (it is left for
// waitpid to reap).
bool waits_for_input(pid_t pid)
{
    static const std::string reading_input = std::to_string(SYS_read) + " 0x0 ";
    std::string syscall = read_file("/proc/" + std::to_string(pid) + "/syscall");
    siginfo_t info{};
    return syscall.rfind(reading_input, 0) == 0 ||
           (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid);
}

} // namespace

double now_seconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::vector<std::string> host_result::texts() const
{
    std::vector<std::string> texts;
    for (const host_frame &f : frames) {
        cJSON *doc = cJSON_ParseWithLength(f.body.data(), f.body.size());
        const char *text = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(doc, "text"));
        texts.push_back(text ? text : "<not a response: " + f.body + ">");
        cJSON_Delete(doc);
    }
    return texts;
}

namespace {

// Most tests' editors exit at once without changing the file, which the host
// remarks on; the line goes to early_exit_notice so that err holds the rest.
void take_early_exit_notice(host_result *result)
{
    static const std::regex notice(
        "The editor [^\n]* exited [0-9]+ ms after it started without changing the file; it may "
        "have handed the file to a window that was already open \\(see zuraze-host\\(1\\)\\)\n");
    std::smatch found;
    if (std::regex_search(result->err, found, notice)) {
        result->early_exit_notice = found.str();
        result->err.erase(static_cast<size_t>(found.position()), found.str().size());
    }
}

} // namespace

host_result run_host(const host_options &options)
{
    int in[2], out[2], err[2], extra[2] = {-1, -1};
    make_pipe(in);
    make_pipe(out);
    make_pipe(err);
    if (options.descriptor_3)
        make_pipe(extra);
    fcntl(in[1], F_SETPIPE_SZ, 1 << 20);

    host_result result;
    result.started_at = now_seconds();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0)
        exec_host(options, in[0], out[1], err[1], extra[1]);
    close(out[1]);
    close(err[1]);
    if (extra[1] >= 0)
        close(extra[1]);
    if (options.stdout_gone)
        close(out[0]);

    if (options.before_input) {
        while (!waits_for_input(pid) && now_seconds() < result.started_at + options.timeout)
            usleep(10000);
        options.before_input();
    }

    // The input goes in before anything is read; a large request must fit the
    // pipe, which is what the browsers' requests do in practice too.
    signal(SIGPIPE, SIG_IGN);
    if (!options.input.empty() && write(in[1], options.input.data(), options.input.size()) < 0 &&
        errno != EPIPE)
        throw std::runtime_error(std::string("write to host: ") + strerror(errno));
    if (options.close_input) {
        close(in[1]);
        in[1] = -1;
    }

    std::string bytes;
    std::vector<std::pair<size_t, double>> arrivals;
    const double deadline = result.started_at + options.timeout;
    const double read_from = result.started_at + options.read_delay;
    bool out_open = !options.stdout_gone, err_open = true, extra_open = extra[0] >= 0;
    bool reaped = false;
    int status = 0;
    char buffer[65536];
    while (out_open || err_open || extra_open || !reaped) {
        double now = now_seconds();
        if (!options.act_when.empty() && result.acted_at == 0 && path_exists(options.act_when)) {
            result.acted_at = now;
            if (options.act_close_input && in[1] >= 0) {
                close(in[1]);
                in[1] = -1;
            }
            if (options.act_close_output && out_open) {
                close(out[0]);
                out[0] = -1;
                out_open = false;
            }
            if (options.act_signal)
                kill(pid, options.act_signal);
            if (options.act_call)
                options.act_call(pid);
        }
        if (!reaped && waitpid(pid, &status, WNOHANG) == pid) {
            reaped = true;
            result.exited_at = now;
        }
        if (now > deadline) {
            result.timed_out = true;
            break;
        }
        bool reading_out = out_open && now >= read_from;
        struct pollfd fds[3] = {{reading_out ? out[0] : -1, POLLIN, 0},
                                {err_open ? err[0] : -1, POLLIN, 0},
                                {extra_open ? extra[0] : -1, POLLIN, 0}};
        poll(fds, 3, 20);
        if (fds[0].revents) {
            ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n > 0) {
                bytes.append(buffer, static_cast<size_t>(n));
                arrivals.emplace_back(bytes.size(), now_seconds());
            } else {
                out_open = false;
            }
        }
        if (fds[1].revents) {
            ssize_t n = read(err[0], buffer, sizeof buffer);
            if (n > 0)
                result.err.append(buffer, static_cast<size_t>(n));
            else
                err_open = false;
        }
        if (fds[2].revents) {
            if (read(extra[0], buffer, sizeof buffer) <= 0) {
                extra_open = false;
                result.descriptor_3_closed_at = now_seconds();
            }
        }
    }

    if (!reaped) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.exited_at = now_seconds();
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    fcntl(in[0], F_SETFL, O_NONBLOCK);
    ssize_t n;
    while ((n = read(in[0], buffer, sizeof buffer)) > 0)
        result.unread_input.append(buffer, static_cast<size_t>(n));
    for (int fd : {in[0], in[1], out[0], err[0], extra[0]})
        if (fd >= 0 && !(fd == out[0] && options.stdout_gone))
            close(fd);
    split_frames(bytes, arrivals, &result);
    take_early_exit_notice(&result);
    return result;
}

std::string edit_request(const std::string &text, const std::string &editor,
                         const std::vector<std::string> &args, const std::string &ext)
{
    cJSON *request = cJSON_CreateObject();
    cJSON_AddItemToObject(request, "text", cJSON_CreateString(text.c_str()));
    if (!editor.empty())
        cJSON_AddItemToObject(request, "editor", cJSON_CreateString(editor.c_str()));
    if (!args.empty()) {
        cJSON *list = cJSON_AddArrayToObject(request, "args");
        for (const std::string &arg : args)
            cJSON_AddItemToArray(list, cJSON_CreateString(arg.c_str()));
    }
    if (!ext.empty())
        cJSON_AddItemToObject(request, "ext", cJSON_CreateString(ext.c_str()));
    char *printed = cJSON_PrintUnformatted(request);
    std::string body = printed;
    free(printed);
    cJSON_Delete(request);
    return body;
}
