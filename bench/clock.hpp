#pragma once

// The one clock of the benchmark, CLOCK_MONOTONIC, on which its editor notes
// its moments too.

long long monotonic_ns();

double ms_between(long long from_ns, long long to_ns);

// Sleeps ms milliseconds, also through signals.
void sleep_ms(double ms);
