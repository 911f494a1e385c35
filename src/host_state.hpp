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
    uint64_t last_size; // with last_mtime, what the last poll saw of the file
};

extern host_record host_state;
