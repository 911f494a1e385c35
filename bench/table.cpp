#include "table.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

struct row {
    std::string figure;
    std::vector<double> values;
    const char *unit;
    std::string goal;
    double limit;
    double at;
};

std::vector<row> table;

// Prints one line of the table without the blanks its last column leaves.
__attribute__((format(printf, 1, 2))) void print_line(const char *format, ...)
{
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    size_t length = strlen(line);
    while (length > 0 && line[length - 1] == ' ')
        length--;
    printf("%.*s\n", static_cast<int>(length), line);
}

} // namespace

double percentile(std::vector<double> values, double percent)
{
    std::sort(values.begin(), values.end());
    double rank = percent / 100 * static_cast<double>(values.size() - 1);
    size_t low = static_cast<size_t>(rank);
    size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (rank - static_cast<double>(low));
}

void add_row(const std::string &figure, const std::vector<double> &values, const char *unit,
             const std::string &goal, double limit, double at)
{
    table.push_back({figure, values, unit, goal, limit, at});
}

void print_table()
{
    printf("\n");
    print_line("%-46s %5s %10s %21s %-6s %-16s", "figure", "runs", "median", "spread p10-p90",
               "unit", "goal or expected");
    for (const row &r : table) {
        if (r.values.empty()) {
            print_line("%-46s %5s %10s %21s %-6s %-16s", r.figure.c_str(), "-", "n/a", "", r.unit,
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
        print_line("%-46s %5zu %10.3g %21s %-6s %-16s%s", r.figure.c_str(), r.values.size(), figure,
                   r.at == 50 ? spread : "", r.unit, r.goal.c_str(), verdict);
    }
}
