#include "harness.hpp"

#include "clock.hpp"
#include "frame_io.hpp"
#include "whole_io.hpp"

#include <algorithm>
#include <cJSON.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

std::string scratch;

std::string host_log_path()
{
    return scratch + "/host.log";
}

std::string log_path()
{
    return scratch + "/editor.log";
}

std::string control_path()
{
    return scratch + "/control";
}

// Shows what the hosts said on standard error, which the benchmark keeps
// apart from its own output: the expected warnings about responses over the
// browsers' limit, or a failure's cause.
void show_host_log()
{
    FILE *log = fopen(host_log_path().c_str(), "r");
    if (!log)
        return;
    char line[512];
    while (fgets(line, sizeof line, log))
        fprintf(stderr, "zuraze-host: %s", line);
    fclose(log);
}

std::string request_for(const std::string &text, const char *editor)
{
    cJSON *request = cJSON_CreateObject();
    cJSON_AddStringToObject(request, "text", text.c_str());
    cJSON_AddStringToObject(request, "editor", editor);
    char *printed = cJSON_PrintUnformatted(request);
    cJSON_Delete(request);
    if (!printed)
        fail("cannot print a request");
    std::string result = printed;
    free(printed);
    return result;
}

} // namespace

void make_scratch()
{
    char dir[] = "/tmp/zuraze-bench.XXXXXX";
    if (!mkdtemp(dir))
        fail("mkdtemp failed");
    scratch = dir;
    setenv("TMPDIR", dir, 1);
    setenv("ZURAZE_BENCH_LOG", log_path().c_str(), 1);
    setenv("ZURAZE_BENCH_CONTROL", control_path().c_str(), 1);
}

void remove_scratch()
{
    unlink(host_log_path().c_str());
    unlink(log_path().c_str());
    unlink(control_path().c_str());
    rmdir(scratch.c_str());
}

const std::string &scratch_dir()
{
    return scratch;
}

void fail(const char *what)
{
    fprintf(stderr, "zuraze-bench: %s\n", what);
    show_host_log();
    fprintf(stderr, "zuraze-bench: its files are kept in %s\n", scratch.c_str());
    exit(1);
}

std::string response_text(const std::string &body)
{
    cJSON *response = cJSON_Parse(body.c_str());
    const char *text = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(response, "text"));
    std::string result = text ? text : "";
    cJSON_Delete(response);
    return result;
}

// The child reports its clock reading just before the exec through a pipe of
// its own.
child start(const std::vector<std::string> &argv)
{
    int in[2], out[2], stamp[2];
    if (pipe(in) < 0 || pipe(out) < 0 || pipe(stamp) < 0)
        fail("pipe failed");
    fcntl(stamp[1], F_SETFD, FD_CLOEXEC);
    child c;
    c.pid = fork();
    if (c.pid < 0)
        fail("fork failed");
    if (c.pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        int log = open(host_log_path().c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
        if (log >= 0)
            dup2(log, 2);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        close(stamp[0]);
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        long long now = monotonic_ns();
        if (write(stamp[1], &now, sizeof now) != sizeof now)
            _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(stamp[1]);
    if (!read_fully(stamp[0], &c.exec_ns, sizeof c.exec_ns, interrupted_read::is_retried))
        fail("the child did not report its start");
    close(stamp[0]);
    c.to = in[1];
    c.from = out[0];
    return c;
}

rusage finish(child *c)
{
    if (c->to >= 0)
        close(c->to);
    close(c->from);
    rusage usage{};
    int status;
    while (wait4(c->pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    return usage;
}

host_run start_host(const char *host, const std::vector<std::string> &wrap, const char *editor,
                    const std::string &text)
{
    unlink(log_path().c_str());
    unlink(control_path().c_str());
    if (mkfifo(control_path().c_str(), 0600) < 0)
        fail("mkfifo failed");
    host_run run;
    // Open for reading and writing, so that neither side's open waits for the
    // other, and the editor reads to the end only once the FIFO is closed here.
    run.control = open(control_path().c_str(), O_RDWR | O_CLOEXEC);
    if (run.control < 0)
        fail("cannot open the control FIFO");

    std::vector<std::string> argv = wrap;
    argv.push_back(host);
    run.host = start(argv);
    if (!write_frame(run.host.to, request_for(text, editor)))
        fail("cannot write the request");
    close(run.host.to);
    run.host.to = -1;
    return run;
}

void command(host_run *run, char what)
{
    if (!write_fully(run->control, &what, 1))
        fail("cannot command the editor");
}

void quit(host_run *run)
{
    command(run, 'q');
    std::string body;
    while (read_frame(run->host.from, &body)) {
    }
    close(run->control);
    finish(&run->host);
}

std::vector<editor_note> read_notes()
{
    std::vector<editor_note> notes;
    FILE *log = fopen(log_path().c_str(), "r");
    if (!log)
        return notes;
    char line[128];
    while (fgets(line, sizeof line, log)) {
        char word[16];
        long long a, b;
        int fields = sscanf(line, "%15s %lld %lld", word, &a, &b);
        if (fields == 3)
            notes.push_back({word, static_cast<int>(a), b});
        else if (fields == 2)
            notes.push_back({word, 0, a});
    }
    fclose(log);
    return notes;
}

long long wait_for_editor_start()
{
    for (int i = 0; i < 30000; i++) {
        for (const editor_note &n : read_notes())
            if (n.word == "start")
                return n.ns;
        sleep_ms(1);
    }
    fail("the editor did not start");
}

void summarize_host_log()
{
    std::vector<std::pair<std::string, int>> lines;
    FILE *log = fopen(host_log_path().c_str(), "r");
    if (!log)
        return;
    char line[512];
    while (fgets(line, sizeof line, log)) {
        auto seen = std::find_if(lines.begin(), lines.end(),
                                 [&](const auto &known) { return known.first == line; });
        if (seen != lines.end())
            seen->second++;
        else
            lines.emplace_back(line, 1);
    }
    fclose(log);
    if (!lines.empty())
        printf("\nThe hosts' standard error:\n");
    for (const auto &[text, count] : lines)
        printf("%6dx %s", count, text.c_str());
}
