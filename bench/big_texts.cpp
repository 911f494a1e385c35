#include "measurements.hpp"

#include "clock.hpp"
#include "frame_io.hpp"
#include "harness.hpp"
#include "process_stats.hpp"
#include "table.hpp"

#include <algorithm>
#include <cJSON.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <unistd.h>

namespace {

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

} // namespace

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
        std::string copy = scratch_dir() + "/copy";
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
