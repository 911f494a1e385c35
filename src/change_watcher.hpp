#pragma once

// Stores the default loop in host_state, initialises fs_event, debounce_timer
// and watch_start_timer, and arms watch_start_timer to start watching 300 ms
// later. Gives false after a message. Once watching, the loop sends the file
// at temp_path with send_file_response 100 ms after the last of a burst of
// changes in temp_dir naming temp_name, or, where the build polls or the
// directory cannot be watched, whenever a poll every 100 ms sees its
// modification time or size change.
bool init_change_watcher();
