#pragma once

#include <string>
#include <vector>

// The benchmark's command line.
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
    std::vector<std::string> wrap; // the words of --wrap; empty without it
};

// Reads the command line into *opts. Gives false after one line on standard
// error: the usage for an unknown option, a missing value or a missing path,
// the reason for a number out of its range or no number at all.
bool parse_options(int argc, char **argv, options *opts);
