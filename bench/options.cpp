#include "options.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Every count and duration is at least 1: a zero would divide by zero or
// measure nothing. The largest keep the products the benchmark forms (a
// save's moment in nanoseconds, a text's bytes) far inside their types.
struct number_option {
    const char *name;
    int options::*field;
    int largest;
};

constexpr number_option number_options[] = {
    {"--saves", &options::saves, 100000},       {"--interval-ms", &options::interval_ms, 3600000},
    {"--runs", &options::runs, 10000},          {"--idle-s", &options::idle_s, 86400},
    {"--idle-runs", &options::idle_runs, 1000},
};

constexpr int largest_size_mib = 1024;

// Gives text as a number from 1 to largest: decimal digits only, so no sign,
// blank, trailing junk or empty text, and no overflow.
bool whole_number(const std::string &text, int largest, int *number)
{
    if (text.empty() || !isdigit(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char *end = nullptr;
    long value = strtol(text.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0' || value < 1 || value > largest)
        return false;
    *number = static_cast<int>(value);
    return true;
}

bool parse_sizes(const char *value, std::vector<int> *sizes)
{
    sizes->clear();
    std::string list = value;
    size_t start = 0;
    for (;;) {
        size_t end = std::min(list.find(',', start), list.size());
        int mib = 0;
        if (!whole_number(list.substr(start, end - start), largest_size_mib, &mib))
            return false;
        sizes->push_back(mib);
        if (end == list.size())
            return true;
        start = end + 1;
    }
}

std::vector<std::string> words(const std::string &command)
{
    std::vector<std::string> result;
    size_t start = 0;
    while (start < command.size()) {
        size_t end = std::min(command.find(' ', start), command.size());
        if (end > start)
            result.push_back(command.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

const number_option *number_option_named(const std::string &name)
{
    for (const number_option &option : number_options)
        if (name == option.name)
            return &option;
    return nullptr;
}

} // namespace

bool parse_options(int argc, char **argv, options *opts)
{
    for (int i = 1; i < argc; i += 2) {
        std::string name = argv[i];
        if (i + 1 >= argc) {
            fputs(usage, stderr);
            return false;
        }
        const char *value = argv[i + 1];
        if (const number_option *option = number_option_named(name)) {
            if (!whole_number(value, option->largest, &(opts->*option->field))) {
                fprintf(stderr, "zuraze-bench: %s takes a whole number from 1 to %d, not \"%s\"\n",
                        option->name, option->largest, value);
                return false;
            }
        } else if (name == "--sizes") {
            if (!parse_sizes(value, &opts->sizes_mib)) {
                fprintf(stderr,
                        "zuraze-bench: --sizes takes whole numbers of MiB from 1 to %d, separated "
                        "by commas, not \"%s\"\n",
                        largest_size_mib, value);
                return false;
            }
        } else if (name == "--host") {
            opts->host = value;
        } else if (name == "--polling-host") {
            opts->polling_host = value;
        } else if (name == "--editor") {
            opts->editor = value;
        } else if (name == "--wrap") {
            opts->wrap = words(value);
        } else {
            fputs(usage, stderr);
            return false;
        }
    }
    if (!opts->host || !opts->polling_host || !opts->editor) {
        fputs(usage, stderr);
        return false;
    }
    return true;
}
