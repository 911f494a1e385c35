#include "editor_process.hpp"

#include "file_response_sender.hpp"
#include "host_state.hpp"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// The editor's exit ends the edit: no more watching, and uv_run returns to
// main for the last send.
void on_editor_exit(uv_process_t *process, int64_t, int)
{
    uv_fs_event_stop(&host_state.fs_event);
    uv_close(reinterpret_cast<uv_handle_t *>(process), nullptr);
    uv_stop(host_state.loop);
}

} // namespace

bool spawn_editor(uv_loop_t *loop, const editor_argv *argv, uv_process_t *process)
{
    if (argv->count == 0 || !argv->slots[0]) {
        fputs("Invalid editor arguments\n", stderr);
        return false;
    }

    // Without stdio containers libuv puts the child's standard streams on the
    // null device, so the editor can neither read the browser's input nor
    // write into the message channel.
    uv_process_options_t options;
    memset(&options, 0, sizeof options);
    options.exit_cb = on_editor_exit;
    options.file = argv->slots[0];
    options.args = argv->slots;
    options.flags = UV_PROCESS_WINDOWS_HIDE_CONSOLE;

    int rc = uv_spawn(loop, process, &options);
    if (rc < 0) {
        fprintf(stderr, "Failed to spawn editor process: %s\n", uv_strerror(rc));
        return false;
    }
    return true;
}

int finish_edit(keep_reason *keep)
{
    uv_fs_event_stop(&host_state.fs_event);
    if (!host_state.temp_path || access(host_state.temp_path, F_OK) != 0) {
        fputs("Temporary file was not found after editor exited\n", stderr);
        return 1;
    }
    if (!send_file_response(host_state.temp_path))
        *keep = keep_reason::text_not_sent;
    return 0;
}
