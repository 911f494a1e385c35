#pragma once

// The figures the benchmark measures; each adds its rows to the table.

#include "options.hpp"

#include <cstddef>
#include <string>
#include <vector>

// Save to frame, with directory events and with polling: opts.saves saves,
// opts.interval_ms apart, in each mode (saves.cpp).
void measure_saves(const options &opts);

// From the host's exec to the editor's, beside the start-up of the
// interpreters a host could be written for (start_up.cpp).
void measure_start(const options &opts);

// Peak and retained memory, and one response's time against cat's, for a
// small request and each of opts.sizes_mib (big_texts.cpp).
void measure_memory_and_big_texts(const options &opts);

// CPU time and wake-ups of a host that waits for saves, in one watching mode
// (idle.cpp).
void measure_idle(const char *host, const char *mode, const options &opts);

// Text of the given size that mixes ASCII words, two-, three- and four-byte
// characters, quotes, backslashes and control characters, all of it valid
// UTF-8 and free of NUL.
std::string mixed_text(size_t size);

struct response_figures {
    double wall_ms;
    double cpu_ms;
    double peak_kib;
    double resident_after_kib;
};

// One response to a touch of the file, with the host otherwise idle: its wall
// time from the touch to the whole frame, less the debounce; its CPU time; and
// the host's peak and current resident memory right after it. The host runs
// under the words of wrap where there are any.
response_figures one_response(const char *host, const std::vector<std::string> &wrap,
                              const char *editor, const std::string &text);

// The host's debounce: a save is sent this long after the last change.
constexpr double debounce_ms = 100;
