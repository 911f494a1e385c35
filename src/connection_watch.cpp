#include "connection_watch.hpp"

#include "host_state.hpp"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <uv.h>

namespace {

// The same moment as the file watch's start: a one-shot caller has long
// closed its end by then, while a browser keeps it open for the whole edit.
constexpr uint64_t decision_delay_ms = 300;

// True when fd's other end has gone: poll reports a hang-up on a reader whose
// writers have all gone, and an error on a writer whose readers have.
bool end_gone(int fd)
{
    struct pollfd entry = {fd, 0, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & (POLLHUP | POLLERR)) != 0;
}

void stop_watching()
{
    if (host_state.input_watched)
        uv_poll_stop(&host_state.input_watch);
    if (host_state.output_watched)
        uv_poll_stop(&host_state.output_watch);
}

// Any call means a hang-up or an error on the end: those are the only events
// that a watch for UV_DISCONNECT alone reports.
void on_end_closed(uv_poll_t *, int, int)
{
    stop_watching();
    host_state.connection_closed = true;
    uv_stop(host_state.loop);
}

// Watches fd for its other end going away, and never for data: a watch for
// UV_READABLE would wake the loop again and again for a byte after the
// request that is never read. libuv's kqueue backend (FreeBSD) registers no
// filter for UV_DISCONNECT alone, so there the watch starts but never fires;
// only Linux's epoll reports the hang-up by itself.
bool watch_end(uv_poll_t *handle, int fd)
{
    // uv_poll_init makes fd non-blocking, but that flag belongs to the open
    // file, which the browser or a terminal may share, and the frames are
    // written with blocking writes: the flags go back as they were.
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    int rc = uv_poll_init(host_state.loop, handle, fd);
    fcntl(fd, F_SETFL, flags);
    if (rc < 0)
        return false; // a regular file or the null device: EPERM
    rc = uv_poll_start(handle, UV_DISCONNECT, on_end_closed);
    if (rc < 0) {
        uv_close(reinterpret_cast<uv_handle_t *>(handle), nullptr);
        return false;
    }
    return true;
}

void on_decision_timer(uv_timer_t *timer)
{
    uv_close(reinterpret_cast<uv_handle_t *>(timer), nullptr);
    if (end_gone(0))
        return;
    host_state.input_watched = watch_end(&host_state.input_watch, 0);
    host_state.output_watched = !end_gone(1) && watch_end(&host_state.output_watch, 1);
    if (host_state.input_watched || host_state.output_watched)
        signal(SIGPIPE, SIG_IGN);
}

} // namespace

bool init_connection_watch()
{
    int rc = uv_timer_init(host_state.loop, &host_state.connection_watch_timer);
    if (rc < 0) {
        fprintf(stderr, "Failed to init connection watch timer: %s\n", uv_strerror(rc));
        return false;
    }
    uv_timer_start(&host_state.connection_watch_timer, on_decision_timer, decision_delay_ms, 0);
    return true;
}

bool connection_closed()
{
    if (host_state.connection_closed)
        return true;
    return (host_state.input_watched && end_gone(0)) || (host_state.output_watched && end_gone(1));
}
