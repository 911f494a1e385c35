// Measures zuraze-host as a browser sees it and prints one table: each figure
// as the median and the spread (10th to 90th percentile) of repeated runs.
// The host runs with the benchmark's own editor (bench_editor.cpp), which
// notes on CLOCK_MONOTONIC when it started and when each save returned; this
// program notes on the same clock when it started the host and when each frame
// had arrived whole.
//
// harness.cpp plays the browser, saves.cpp, start_up.cpp, big_texts.cpp and
// idle.cpp measure, table.cpp prints; this file runs them in order.

#include "harness.hpp"
#include "measurements.hpp"
#include "options.hpp"
#include "table.hpp"

#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    options opts;
    if (!parse_options(argc, argv, &opts))
        return 2;
    signal(SIGPIPE, SIG_IGN);
    make_scratch();

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
    measure_idle(opts.host, "events", opts);
    measure_idle(opts.polling_host, "polling", opts);
    print_table();
    summarize_host_log();
    remove_scratch();
    return 0;
}
