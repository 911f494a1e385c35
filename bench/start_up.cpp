#include "measurements.hpp"

#include "clock.hpp"
#include "harness.hpp"
#include "table.hpp"

#include <cstdlib>
#include <unistd.h>

namespace {

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

} // namespace

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
