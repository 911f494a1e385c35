#include "process_stats.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

long long proc_status_field(pid_t pid, const char *field)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/status", static_cast<long>(pid));
    FILE *status = fopen(path, "r");
    if (!status)
        return -1;
    char line[256];
    long long value = -1;
    size_t length = strlen(field);
    while (fgets(line, sizeof line, status))
        if (strncmp(line, field, length) == 0 && line[length] == ':')
            value = atoll(line + length + 1);
    fclose(status);
    return value;
}

long long cpu_ns(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/schedstat", static_cast<long>(pid));
    FILE *stat = fopen(path, "r");
    long long ns = -1;
    if (stat) {
        if (fscanf(stat, "%lld", &ns) != 1)
            ns = -1;
        fclose(stat);
    }
    return ns;
}

double cpu_ms(const rusage &usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}
