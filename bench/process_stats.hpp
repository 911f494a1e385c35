#pragma once

// What the kernel accounts to a process, read from /proc.

#include <sys/resource.h>
#include <sys/types.h>

// A number field of /proc/PID/status (VmHWM, voluntary_ctxt_switches, ...);
// -1 when there is none.
long long proc_status_field(pid_t pid, const char *field);

// CPU time the kernel has accounted to the process, in nanoseconds; -1 when
// it cannot be read.
long long cpu_ns(pid_t pid);

// User and system time of a finished child, in milliseconds.
double cpu_ms(const rusage &usage);
