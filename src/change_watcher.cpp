#include "change_watcher.hpp"

#include "file_response_sender.hpp"
#include "host_state.hpp"

#include <cstdio>
#include <cstring>
#include <uv.h>

namespace {

constexpr uint64_t watch_start_delay_ms = 300;
constexpr uint64_t debounce_delay_ms = 100;
constexpr uint64_t poll_interval_ms = 100;

// kqueue reports a directory's changes without names, and none for a write in
// place, so there the file is polled from the start.
#ifdef ZURAZE_WATCH_BY_POLLING
constexpr bool watch_by_polling = true;
#else
constexpr bool watch_by_polling = false;
#endif

void on_watch_start(uv_timer_t *timer);
void on_fs_event(uv_fs_event_t *handle, const char *filename, int events, int status);
void on_debounce_timer(uv_timer_t *timer);
void on_poll_timer(uv_timer_t *timer);

void start_polling()
{
    uv_timer_start(&host_state.debounce_timer, on_poll_timer, poll_interval_ms, poll_interval_ms);
}

} // namespace

bool init_change_watcher()
{
    host_state.loop = uv_default_loop();
    if (!host_state.loop) {
        fputs("Failed to get the default loop\n", stderr);
        return false;
    }
    int rc = uv_fs_event_init(host_state.loop, &host_state.fs_event);
    if (rc < 0) {
        fprintf(stderr, "Failed to init fs_event: %s\n", uv_strerror(rc));
        return false;
    }
    rc = uv_timer_init(host_state.loop, &host_state.debounce_timer);
    if (rc < 0) {
        fprintf(stderr, "Failed to init debounce timer: %s\n", uv_strerror(rc));
        return false;
    }
    rc = uv_timer_init(host_state.loop, &host_state.watch_start_timer);
    if (rc < 0) {
        fprintf(stderr, "Failed to init watch_start_timer: %s\n", uv_strerror(rc));
        return false;
    }
    uv_timer_start(&host_state.watch_start_timer, on_watch_start, watch_start_delay_ms, 0);
    return true;
}

namespace {

void on_watch_start(uv_timer_t *timer)
{
    if (watch_by_polling) {
        start_polling();
    } else {
        int rc = uv_fs_event_start(&host_state.fs_event, on_fs_event, host_state.temp_dir, 0);
        if (rc < 0) {
            fprintf(stderr, "Failed to start fs_event: %s; falling back to polling\n",
                    uv_strerror(rc));
            start_polling();
        }
    }
    uv_timer_stop(timer);
    uv_close(reinterpret_cast<uv_handle_t *>(timer), nullptr);
}

void on_fs_event(uv_fs_event_t *, const char *filename, int, int status)
{
    if (!filename || strcmp(filename, host_state.temp_name) != 0)
        return;
    if (status < 0) {
        fprintf(stderr, "Watch error: %s\n", uv_strerror(status));
        return;
    }
    // Every event re-arms the one-shot timer, so a burst of events gives one
    // send, 100 ms after the last of them.
    if (host_state.pending_send)
        uv_timer_stop(&host_state.debounce_timer);
    uv_timer_start(&host_state.debounce_timer, on_debounce_timer, debounce_delay_ms, 0);
    host_state.pending_send = true;
}

void on_debounce_timer(uv_timer_t *)
{
    host_state.pending_send = false;
    if (host_state.temp_path)
        send_file_response(host_state.temp_path);
}

void on_poll_timer(uv_timer_t *)
{
    uv_fs_t request;
    int rc = uv_fs_stat(host_state.loop, &request, host_state.temp_path, nullptr);
    if (rc < 0) {
        fprintf(stderr, "uv_fs_stat failed: %s\n", uv_strerror(rc));
        uv_fs_req_cleanup(&request);
        return;
    }
    modification_time seen{request.statbuf.st_mtim.tv_sec, request.statbuf.st_mtim.tv_nsec};
    uint64_t size = request.statbuf.st_size;
    uv_fs_req_cleanup(&request);

    // A save in place truncates the file and then writes it, and the file
    // system's clock often gives both the same modification time. A poll that
    // falls between the two sends the empty file; only the size then tells
    // that the write came after it.
    modification_time &last = host_state.last_mtime;
    if (seen.seconds == last.seconds && seen.nanoseconds == last.nanoseconds &&
        size == host_state.last_size)
        return;
    last = seen;
    host_state.last_size = size;
    send_file_response(host_state.temp_path);
}

} // namespace
