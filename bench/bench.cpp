// Measures zuraze-host as a browser sees it and prints one table: each figure
// as the median and the spread (10th to 90th percentile) of repeated runs.
// The host runs with the benchmark's own editor (bench_editor.cpp), which
// notes on CLOCK_MONOTONIC when it started and when each save returned; this
// program notes on the same clock when it started the host and when each frame
// had arrived whole.

#include "frame_io.hpp"
#include "whole_io.hpp"

#include <algorithm>
#include <cJSON.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char usage[] =
    "usage: zuraze-bench --host PATH --polling-host PATH --editor PATH [options]\n"
    "  --saves N          saves per watching mode (200)\n"
    "  --interval-ms MS   time between saves (1000)\n"
    "  --runs N           runs of each start-up and big-text figure (20)\n"
    "  --sizes LIST       text sizes in MiB, comma-separated (1,16,64)\n"
    "  --idle-s S         idle time per idle run (10)\n"
    "  --idle-runs N      idle runs per watching mode (3)\n"
    "  --wrap COMMAND     run the host under COMMAND (split at spaces); one\n"
    "                     1 MiB response only, for a profiler\n";

constexpr double debounce_ms = 100;

struct options {
    const char *host = nullptr;
    const char *polling_host = nullptr;
    const char *editor = nullptr;
    int saves = 200;
    int interval_ms = 1000;
    int runs = 20;
    std::vector<int> sizes_mib{1, 16, 64};
    int idle_s = 10;
    int idle_runs = 3;
    std::vector<std::string> wrap;
};

// The scratch directory: the host's TMPDIR, the editor's log and FIFO.
std::string scratch;

long long monotonic_ns()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

double ms_between(long long from_ns, long long to_ns)
{
    return static_cast<double>(to_ns - from_ns) / 1e6;
}

void sleep_ms(double ms)
{
    timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(std::fmod(ms, 1000.0) * 1e6)};
    while (nanosleep(&pause, &pause) < 0 && errno == EINTR) {
    }
}

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

[[noreturn]] void fail(const char *what)
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

struct child {
    pid_t pid = -1;
    int to = -1;
    int from = -1;
    long long exec_ns = 0; // the child's clock just before its exec
};

// Starts argv[0], found on PATH without a slash, with its standard input and
// output on pipes and its standard error on the host's log. The child
// reports its clock reading just before the exec through a pipe of its own.
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

// Waits for the child and gives its resource usage.
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

// A host on one request, with the benchmark's editor, its log and its control
// FIFO fresh for this run.
struct host_run {
    child host;
    int control = -1;
};

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

// The editor's notes of the current run: lines "WORD [N] NS".
struct editor_note {
    std::string word;
    int number;
    long long ns;
};

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

// Waits until the editor has noted its start, and gives that moment.
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

// Ends the edit: the editor quits, the host sends the final frame and exits.
void quit(host_run *run)
{
    command(run, 'q');
    std::string body;
    while (read_frame(run->host.from, &body)) {
    }
    close(run->control);
    finish(&run->host);
}

long long proc_status_field(pid_t pid, const char *field)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/status", static_cast<long>(pid));
    FILE *status = fopen(path, "r");
    if (!status)
        return -1;
    char line[256];
    long long value = -1;
    size_t length = strlen(field);
    while (fgets(line, sizeof line, status))
        if (strncmp(line, field, length) == 0 && line[length] == ':')
            value = atoll(line + length + 1);
    fclose(status);
    return value;
}

// CPU time the kernel has accounted to the process, in nanoseconds.
long long cpu_ns(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/schedstat", static_cast<long>(pid));
    FILE *stat = fopen(path, "r");
    long long ns = -1;
    if (stat) {
        if (fscanf(stat, "%lld", &ns) != 1)
            ns = -1;
        fclose(stat);
    }
    return ns;
}

double cpu_ms(const rusage &usage)
{
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct row {
    std::string figure;
    std::vector<double> values;
    const char *unit;
    std::string goal;
    double limit; // the goal: the figure must stay below it; 0 for none
    double at;    // the percentile that the figure gives: the median, or another alone
};

std::vector<row> table;

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    double rank = p / 100 * static_cast<double>(values.size() - 1);
    size_t low = static_cast<size_t>(rank);
    size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (rank - static_cast<double>(low));
}

void add_row(const std::string &figure, const std::vector<double> &values, const char *unit,
             const std::string &goal = "", double limit = 0, double at = 50)
{
    table.push_back({figure, values, unit, goal, limit, at});
}

void print_table()
{
    printf("\n%-46s %5s %10s %21s %-6s %-16s\n", "figure", "runs", "median", "spread p10-p90",
           "unit", "goal or expected");
    for (const row &r : table) {
        if (r.values.empty()) {
            printf("%-46s %5s %10s %21s %-6s %-16s\n", r.figure.c_str(), "-", "n/a", "", r.unit,
                   r.goal.c_str());
            continue;
        }
        double figure = percentile(r.values, r.at);
        char spread[64];
        snprintf(spread, sizeof spread, "%.3g - %.3g", percentile(r.values, 10),
                 percentile(r.values, 90));
        const char *verdict = "";
        if (r.limit > 0)
            verdict = figure < r.limit ? "  met" : "  MISSED";
        printf("%-46s %5zu %10.3g %21s %-6s %-16s%s\n", r.figure.c_str(), r.values.size(), figure,
               r.at == 50 ? spread : "", r.unit, r.goal.c_str(), verdict);
    }
}

constexpr int missed_after_ms = 3000;

bool frame_within(int fd, int ms)
{
    pollfd ready{fd, POLLIN, 0};
    int n;
    while ((n = ::poll(&ready, 1, ms)) < 0 && errno == EINTR) {
    }
    return n > 0;
}

// Saves one after the other, interval apart, and gives each save's time to
// its frame; counts in missed the saves whose frame did not come within
// missed_after_ms.
std::vector<double> save_to_frame(const char *host, const options &opts, int *missed)
{
    host_run run = start_host(host, {}, opts.editor, "text field\n");
    wait_for_editor_start();
    sleep_ms(500); // the host watches 300 ms after setting up
    std::vector<long long> frame_ns;
    long long first = monotonic_ns();
    std::string body;
    for (int i = 1; i <= opts.saves; i++) {
        command(&run, 's');
        std::string expected = "save " + std::to_string(i) + "\n";
        // Other frames (polling sends the file once as it first finds it, and
        // may catch a save half done) are skipped; a save whose frame never
        // comes is counted as missed.
        bool arrived = false;
        while (!arrived && frame_within(run.host.from, missed_after_ms)) {
            if (!read_frame(run.host.from, &body))
                fail("the host ended during the saves");
            arrived = response_text(body) == expected;
        }
        frame_ns.push_back(arrived ? monotonic_ns() : -1);
        *missed += !arrived;
        long long next = first + static_cast<long long>(i) * opts.interval_ms * 1000000LL;
        long long now = monotonic_ns();
        if (next > now)
            sleep_ms(ms_between(now, next));
    }
    quit(&run);

    std::vector<double> latencies;
    for (const editor_note &n : read_notes())
        if (n.word == "save" && n.number >= 1 && n.number <= opts.saves &&
            frame_ns[static_cast<size_t>(n.number - 1)] >= 0)
            latencies.push_back(ms_between(n.ns, frame_ns[static_cast<size_t>(n.number - 1)]));
    return latencies;
}

void measure_saves(const options &opts)
{
    int events_missed = 0, polling_missed = 0;
    std::vector<double> events = save_to_frame(opts.host, opts, &events_missed);
    for (double &latency : events)
        latency -= debounce_ms;
    add_row("save to frame, events, minus 100 ms debounce", events, "ms", "< 1 median", 1);
    add_row("  the same, 99th percentile", events, "ms", "< 5", 5, 99);
    add_row("  saves whose frame never came", {static_cast<double>(events_missed)}, "count", "0",
            0.5);
    std::vector<double> polling = save_to_frame(opts.polling_host, opts, &polling_missed);
    add_row("save to frame, polling every 100 ms", polling, "ms", "< 101", 101);
    add_row("  the same, 99th percentile", polling, "ms", "< 101", 101, 99);
    add_row("  the same, slowest", polling, "ms", "< 101", 101, 100);
    add_row("  saves whose frame never came", {static_cast<double>(polling_missed)}, "count", "0",
            0.5);
}

// From the exec to the exit of a command: the floor of a host written in its
// language.
double startup_ms(const std::vector<std::string> &argv)
{
    child c = start(argv);
    close(c.to);
    c.to = -1;
    char sink[256];
    while (read(c.from, sink, sizeof sink) > 0) {
    }
    finish(&c);
    return ms_between(c.exec_ns, monotonic_ns());
}

std::string find_program(const char *name)
{
    const char *path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

void measure_start(const options &opts)
{
    std::vector<double> host;
    for (int i = 0; i < opts.runs; i++) {
        host_run run = start_host(opts.host, {}, opts.editor, "text field\n");
        long long editor_ns = wait_for_editor_start();
        host.push_back(ms_between(run.host.exec_ns, editor_ns));
        quit(&run);
    }
    add_row("start to editor, host exec to editor exec", host, "ms", "< 2 median", 2);

    struct floor {
        const char *name;
        std::vector<const char *> args;
    };
    const floor floors[] = {
        {"python3", {"-c", "import json, subprocess, tempfile"}},
        {"node", {"-e", "require(\"child_process\")"}},
    };
    double host_median = percentile(host, 50);
    for (const floor &f : floors) {
        std::string program = find_program(f.name);
        std::vector<double> times;
        std::vector<double> ratios;
        for (int i = 0; !program.empty() && i < opts.runs; i++) {
            std::vector<std::string> argv{program};
            argv.insert(argv.end(), f.args.begin(), f.args.end());
            times.push_back(startup_ms(argv));
            ratios.push_back(times.back() / host_median);
        }
        add_row(std::string("  ") + f.name + " start-up alone, exec to exit", times, "ms");
        add_row(std::string("  ") + f.name + " start-up / host start to editor", ratios, "x");
    }
}

// Text of the given size that mixes ASCII words, two-, three- and four-byte
// characters, quotes, backslashes and control characters, all of it valid
// UTF-8 and free of NUL.
std::string mixed_text(size_t size)
{
    static const char *const pieces[] = {
        "plain words and numbers 12345 ",
        "caf\xc3\xa9 ",
        "\xe2\x82\xac 42 ",
        "\xf0\x9d\x84\x9e ",
        "\"quoted\" ",
        "back\\slash ",
        "tab\there ",
        "line\n",
        "bell\x07 esc\x1b unit\x1f ",
    };
    std::string text;
    text.reserve(size + 64);
    for (size_t i = 0; text.size() < size; i++)
        text += pieces[i % std::size(pieces)];
    // Cut at plain ASCII so that no character is split.
    text.resize(size);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0x80))
        text.pop_back();
    return text;
}

// The bytes JSON needs for the text, quotes included, as cJSON prints it.
size_t escaped_size(const std::string &text)
{
    cJSON *string = cJSON_CreateStringReference(text.c_str());
    char *printed = cJSON_PrintUnformatted(string);
    size_t size = printed ? strlen(printed) : 0;
    free(printed);
    cJSON_Delete(string);
    return size;
}

struct response_figures {
    double wall_ms;
    double cpu_ms;
    double peak_kib;
    double resident_after_kib;
};

// One response to a touch of the file, with the host otherwise idle: its wall
// time from the touch to the whole frame, less the debounce; its CPU time; and
// the host's peak and current resident memory right after it.
response_figures one_response(const char *host, const std::vector<std::string> &wrap,
                              const char *editor, const std::string &text)
{
    host_run run = start_host(host, wrap, editor, text);
    wait_for_editor_start();
    sleep_ms(wrap.empty() ? 500 : 3000);
    long long cpu_before = cpu_ns(run.host.pid);
    command(&run, 't');
    std::string body;
    if (!read_frame(run.host.from, &body))
        fail("the host ended before its response");
    long long arrived = monotonic_ns();
    // The host frees the response only once its last byte is in the pipe:
    // give it time to, so that what it keeps is measured, and that freeing is
    // counted in the response's CPU time.
    sleep_ms(300);
    response_figures figures{};
    figures.cpu_ms = ms_between(cpu_before, cpu_ns(run.host.pid));
    figures.peak_kib = static_cast<double>(proc_status_field(run.host.pid, "VmHWM"));
    figures.resident_after_kib = static_cast<double>(proc_status_field(run.host.pid, "VmRSS"));
    quit(&run);
    if (response_text(body) != text)
        fail("a response differs from the text sent");
    long long touched = 0;
    for (const editor_note &n : read_notes())
        if (n.word == "touch")
            touched = n.ns;
    figures.wall_ms = ms_between(touched, arrived) - debounce_ms;
    return figures;
}

// The same bytes copied by cat into a pipe: wall time from its exec to the
// last byte read, and its CPU time.
void cat_copy(const std::string &path, double *wall, double *cpu)
{
    child c = start({"cat", path});
    close(c.to);
    c.to = -1;
    static char sink[1 << 16];
    while (read(c.from, sink, sizeof sink) > 0) {
    }
    long long done = monotonic_ns();
    rusage usage = finish(&c);
    *wall = ms_between(c.exec_ns, done);
    *cpu = cpu_ms(usage);
}

void write_file(const std::string &path, const std::string &content)
{
    FILE *file = fopen(path.c_str(), "w");
    if (!file || fwrite(content.data(), 1, content.size(), file) != content.size() ||
        fclose(file) != 0)
        fail("cannot write a scratch file");
}

void measure_memory_and_big_texts(const options &opts)
{
    std::vector<double> small_peak;
    for (int i = 0; i < opts.runs; i++)
        small_peak.push_back(one_response(opts.host, {}, opts.editor, "text field\n").peak_kib /
                             1024);
    add_row("peak resident memory, small request", small_peak, "MiB", "< 2", 2);
    double baseline_mib = percentile(small_peak, 50);

    for (int mib : opts.sizes_mib) {
        std::string text = mixed_text(static_cast<size_t>(mib) << 20);
        double escaped = static_cast<double>(escaped_size(text)) / static_cast<double>(text.size());
        std::string copy = scratch + "/copy";
        write_file(copy, text);
        std::vector<double> peak, multiple, retained, wall, cpu, cat_wall, cat_cpu, ratio,
            cpu_ratio;
        int runs = mib >= 16 ? std::max(3, opts.runs / 4) : opts.runs;
        for (int i = 0; i < runs; i++) {
            response_figures f = one_response(opts.host, {}, opts.editor, text);
            double w, c;
            cat_copy(copy, &w, &c);
            peak.push_back(f.peak_kib / 1024);
            multiple.push_back((f.peak_kib / 1024 - baseline_mib) / mib);
            retained.push_back(f.resident_after_kib / 1024);
            wall.push_back(f.wall_ms);
            cpu.push_back(f.cpu_ms);
            cat_wall.push_back(w);
            cat_cpu.push_back(c);
            ratio.push_back(f.wall_ms / w);
            cpu_ratio.push_back(f.cpu_ms / c);
        }
        unlink(copy.c_str());
        std::string size = std::to_string(mib) + " MiB text";
        // For the whole run the host holds the request's JSON, the text parsed
        // from it and the text's copy; each send adds the file's content and
        // the printed response: three texts and two JSON.
        char expected[96];
        snprintf(expected, sizeof expected, "%.2f = 3 texts + 2 JSON", 3 + 2 * escaped);
        add_row("peak resident memory, " + size, peak, "MiB");
        add_row("  above the small request, per MiB of text", multiple, "x", expected);
        add_row("  resident after the response", retained, "MiB");
        bool goal = mib == 1;
        add_row("one response, " + size + ", wall", wall, "ms", goal ? "< 10" : "", goal ? 10 : 0);
        add_row("  CPU", cpu, "ms");
        add_row("  cat of the same file into a pipe, wall", cat_wall, "ms");
        add_row("  cat, CPU", cat_cpu, "ms");
        add_row("  host / cat, wall", ratio, "x");
        add_row("  host / cat, CPU", cpu_ratio, "x");
    }
}

void idle(const char *host, const char *mode, const options &opts)
{
    std::vector<double> cpu, wakeups;
    for (int i = 0; i < opts.idle_runs; i++) {
        host_run run = start_host(host, {}, opts.editor, "text field\n");
        wait_for_editor_start();
        sleep_ms(1000);
        long long cpu_before = cpu_ns(run.host.pid);
        long long switches_before = proc_status_field(run.host.pid, "voluntary_ctxt_switches");
        sleep_ms(opts.idle_s * 1000.0);
        cpu.push_back(ms_between(cpu_before, cpu_ns(run.host.pid)));
        wakeups.push_back(static_cast<double>(
            proc_status_field(run.host.pid, "voluntary_ctxt_switches") - switches_before));
        quit(&run);
    }
    std::string span = std::to_string(opts.idle_s) + " s";
    add_row(std::string("idle ") + span + ", " + mode + ", CPU", cpu, "ms");
    add_row("  wake-ups (voluntary switches)", wakeups, "count");
}

bool parse_options(int argc, char **argv, options *opts)
{
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (i + 1 >= argc)
            return false;
        const char *value = argv[++i];
        if (arg == "--host")
            opts->host = value;
        else if (arg == "--polling-host")
            opts->polling_host = value;
        else if (arg == "--editor")
            opts->editor = value;
        else if (arg == "--saves")
            opts->saves = atoi(value);
        else if (arg == "--interval-ms")
            opts->interval_ms = atoi(value);
        else if (arg == "--runs")
            opts->runs = atoi(value);
        else if (arg == "--idle-s")
            opts->idle_s = atoi(value);
        else if (arg == "--idle-runs")
            opts->idle_runs = atoi(value);
        else if (arg == "--sizes") {
            opts->sizes_mib.clear();
            for (const char *p = value; *p; p += strcspn(p, ","), p += *p == ',')
                opts->sizes_mib.push_back(atoi(p));
        } else if (arg == "--wrap") {
            std::string words = value;
            size_t start = 0;
            while (start < words.size()) {
                size_t end = std::min(words.find(' ', start), words.size());
                if (end > start)
                    opts->wrap.push_back(words.substr(start, end - start));
                start = end + 1;
            }
        } else
            return false;
    }
    return opts->host && opts->polling_host && opts->editor && opts->saves > 0 &&
           opts->interval_ms > 0 && opts->runs > 0 && opts->idle_runs > 0 && opts->idle_s > 0;
}

// Each distinct line the hosts wrote on standard error, with how often.
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

void remove_scratch()
{
    unlink(host_log_path().c_str());
    unlink(log_path().c_str());
    unlink(control_path().c_str());
    rmdir(scratch.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    options opts;
    if (!parse_options(argc, argv, &opts)) {
        fputs(usage, stderr);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    char dir[] = "/tmp/zuraze-bench.XXXXXX";
    if (!mkdtemp(dir))
        fail("mkdtemp failed");
    scratch = dir;
    setenv("TMPDIR", dir, 1);
    setenv("ZURAZE_BENCH_LOG", log_path().c_str(), 1);
    setenv("ZURAZE_BENCH_CONTROL", control_path().c_str(), 1);

    if (!opts.wrap.empty()) {
        one_response(opts.host, opts.wrap, opts.editor, mixed_text(1 << 20));
        remove_scratch();
        return 0;
    }

    fprintf(stderr, "zuraze-bench: saves, %d per mode, %d ms apart\n", opts.saves,
            opts.interval_ms);
    measure_saves(opts);
    fputs("zuraze-bench: start-up\n", stderr);
    measure_start(opts);
    fputs("zuraze-bench: memory and big texts\n", stderr);
    measure_memory_and_big_texts(opts);
    fputs("zuraze-bench: idle\n", stderr);
    idle(opts.host, "events", opts);
    idle(opts.polling_host, "polling", opts);
    print_table();
    summarize_host_log();
    remove_scratch();
    return 0;
}
