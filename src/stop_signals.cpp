#include "stop_signals.hpp"

#include "host_state.hpp"

#include <csignal>
#include <cstdio>
#include <uv.h>

namespace {

struct stop_signal {
    int number;
    const char *name;
};

constexpr stop_signal stop_signals[] = {
    {SIGTERM, "SIGTERM"},
    {SIGHUP, "SIGHUP"},
    {SIGINT, "SIGINT"},
};

// The handler only records the signal and wakes the loop; uv_async_send is
// safe in a signal handler. The flag, unlike a libuv signal watcher, is set
// whenever the signal comes, also after uv_run has returned for the final
// send, so that no signal in that stretch is lost.
void on_stop_signal(int number)
{
    host_state.stop_signal = number;
    uv_async_send(&host_state.stop_async);
}

void on_stop_async(uv_async_t *async)
{
    if (host_state.stop_signal)
        uv_stop(async->loop);
}

bool handled_here(int number)
{
    struct sigaction current {};
    return sigaction(number, nullptr, &current) == 0 && current.sa_handler == on_stop_signal;
}

} // namespace

bool catch_stop_signals()
{
    int rc = uv_async_init(host_state.loop, &host_state.stop_async, on_stop_async);
    if (rc < 0) {
        fprintf(stderr, "Failed to init signal watch: %s\n", uv_strerror(rc));
        return false;
    }
    // libuv gives the editor the default actions back before it starts it.
    // No SA_RESTART: a frame write that waits for a browser that no longer
    // reads (Firefox keeps the pipe open, unread, until it sends SIGTERM)
    // must return, so that the host can keep the file and end. Reading the
    // file, a regular one, is not cut short by it.
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const stop_signal &s : stop_signals) {
        struct sigaction current {};
        if (sigaction(s.number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaction(s.number, &action, nullptr);
    }
    return true;
}

int caught_stop_signal()
{
    return host_state.stop_signal;
}

const char *stop_signal_name(int number)
{
    for (const stop_signal &s : stop_signals)
        if (s.number == number)
            return s.name;
    return "a signal";
}

void end_by_caught_stop_signal()
{
    // The default actions come back first: a signal that arrives after the
    // flag was read then ends the host by itself.
    for (const stop_signal &s : stop_signals)
        if (handled_here(s.number))
            signal(s.number, SIG_DFL);
    int number = host_state.stop_signal;
    if (number)
        raise(number);
}
