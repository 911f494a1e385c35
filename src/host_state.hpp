#pragma once

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
    bool pending_send;
    char *temp_path; // owned by the editor argument vector once it is placed there
    char *temp_name;
    char *temp_dir;
    uv_loop_t *loop;
    uv_fs_event_t fs_event;
    uv_timer_t debounce_timer;
    uv_timer_t watch_start_timer;
    modification_time last_mtime;
    uint64_t last_size; // with last_mtime, what the last poll saw of the file
};

extern host_record host_state;
