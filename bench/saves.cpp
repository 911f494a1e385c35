#include "measurements.hpp"

#include "clock.hpp"
#include "frame_io.hpp"
#include "harness.hpp"
#include "table.hpp"

#include <cerrno>
#include <poll.h>

namespace {

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

} // namespace

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
