#pragma once

#include "editor_command_line.hpp"
#include "temporary_file.hpp"

#include <uv.h>

// Starts the editor on loop with argv as it stands, the host's environment and
// working directory, and its standard streams on the null device. process
// must outlive the loop. Gives false after a message. When the editor exits,
// the directory watch stops, process is closed and the loop is stopped, so
// that uv_run returns.
bool spawn_editor(uv_loop_t *loop, const editor_argv *argv, uv_process_t *process);

// Sends the file a last time once the editor has exited. Gives the run's exit
// status: 0 when the file was there, whatever the send did, else 1 after
// "Temporary file was not found after editor exited". Sets *keep to
// text_not_sent when the file was there but its content did not reach the
// browser, so that it is kept rather than removed; leaves *keep alone
// otherwise.
int finish_edit(keep_reason *keep);
