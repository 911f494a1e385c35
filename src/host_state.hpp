#pragma once

#include <csignal>
#include <cstdint>
#include <uv.h>

struct modification_time {
    int64_t seconds;
    int64_t nanoseconds;
};

// The one record that main and the loop's callbacks share. It has static
// storage, so every field starts zero, null or false; the handles stay at the
// same address for the whole run because libuv refers to them.
struct host_record {
    bool pending_send; // the debounce timer is armed for a send
    // The temporary file's path, its name alone and its directory, set by
    // create_temporary_file and freed by free_temporary_file_names. The path
    // is owned by the editor argument vector once it is placed there.
    char *temp_path;
    char *temp_name;
    char *temp_dir;
    uv_loop_t *loop; // the default loop, set by init_change_watcher
    uv_fs_event_t fs_event;
    uv_timer_t debounce_timer;
    uv_timer_t watch_start_timer;
    modification_time last_mtime;
    uint64_t last_size;   // with last_mtime, what the last poll saw of the file
    bool warned_not_utf8; // a live send has said that the text is not UTF-8
    // The browser's end of the channel: watched from the moment the host
    // decides that a browser, not a one-shot caller, holds it.
    uv_timer_t connection_watch_timer;
    uv_poll_t input_watch;  // descriptor 0, when input_watched
    uv_poll_t output_watch; // descriptor 1, when output_watched
    bool input_watched;
    bool output_watched;
    bool connection_closed; // a watched end was seen closed
    // The stop signal (SIGTERM, SIGHUP, SIGINT) caught during the edit, or 0.
    // Written by the signal handler, which then wakes the loop by stop_async.
    volatile sig_atomic_t stop_signal;
    uv_async_t stop_async;
};

extern host_record host_state;
