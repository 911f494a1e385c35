#include "measurements.hpp"

#include "clock.hpp"
#include "harness.hpp"
#include "process_stats.hpp"
#include "table.hpp"

void measure_idle(const char *host, const char *mode, const options &opts)
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
