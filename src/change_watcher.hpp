#pragma once

#include <uv.h>

// Stores the default loop in host_state, initialises fs_event, debounce_timer
// and watch_start_timer, and arms watch_start_timer to start watching 300 ms
// later. Gives false after a message.
bool init_change_watcher();

void on_watch_start(uv_timer_t *timer);
void on_fs_event(uv_fs_event_t *handle, const char *filename, int events, int status);
void on_debounce_timer(uv_timer_t *timer);
void on_poll_timer(uv_timer_t *timer);
