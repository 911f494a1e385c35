#include "change_watcher.hpp"
#include "command_line.hpp"
#include "connection_watch.hpp"
#include "early_exit.hpp"
#include "editor_command_line.hpp"
#include "editor_lookup.hpp"
#include "editor_process.hpp"
#include "host_state.hpp"
#include "message_channel.hpp"
#include "request_document.hpp"
#include "stop_signals.hpp"
#include "temporary_file.hpp"

#include <cJSON.h>
#include <cstdlib>
#include <uv.h>

namespace {

// Everything one edit holds outside host_state; all of it lives until the
// teardown.
struct edit_run {
    char *body;
    uint32_t body_length;
    cJSON *request;
    char *editor_path;
    editor_argv argv;
    request_members members;
    uv_process_t editor_process;
    edit_start start;
    keep_reason keep; // none, so the file is removed, unless a stage says why not
};

// Everything between reading the request and the teardown: parse the request,
// choose the editor, build its argument vector, read the text and extension,
// create the temporary file, prepare the file watch, catch the stop signals,
// prepare the connection watch, start the editor, run the loop until it
// exits, send the file a last time, and say so when the editor left at once
// without changing the file. The first step that fails gives status 1, after
// its own message. A stop signal or the browser letting go ends the loop
// early: then there is no final send, the editor is left running on the kept
// file, and the status is 1 (a stop signal then ends the host after the
// teardown).
int run_edit(edit_run *run)
{
    run->request = parse_request(run->body);
    if (!run->request)
        return 1;
    run->editor_path = choose_editor(run->request);
    if (!run->editor_path)
        return 1;
    run->argv = build_editor_argv(run->request, run->editor_path);
    if (!run->argv.slots)
        return 1;
    if (!read_text_and_ext(run->request, &run->members))
        return 1;
    const request_members &m = run->members;
    if (!create_temporary_file(m.text, m.text_length, m.ext, m.ext_length, &run->argv))
        return 1;
    if (!init_change_watcher())
        return 1;
    if (!catch_stop_signals())
        return 1;
    if (!init_connection_watch())
        return 1;
    if (caught_stop_signal())
        return 1;
    note_edit_start(host_state.loop, host_state.temp_path, &run->start);
    if (!spawn_editor(host_state.loop, &run->argv, &run->editor_process))
        return 1;
    uv_run(host_state.loop, UV_RUN_DEFAULT);
    if (caught_stop_signal())
        return 1;
    if (connection_closed()) {
        run->keep = keep_reason::connection_closed;
        return 1;
    }
    int status = finish_edit(&run->keep);
    report_early_exit(host_state.loop, &run->start, run->editor_path, host_state.temp_path, m.text,
                      m.text_length);
    return status;
}

void teardown(edit_run *run)
{
    remove_or_keep_temporary_file(run->keep);
    free_temporary_file_names(&run->argv);
    free_editor_argv(&run->argv);
    free(run->editor_path);
    free(run->body);
    cJSON_Delete(run->request);
    free(run->members.text);
    free(run->members.ext);
}

} // namespace

int main(int argc, char **argv)
{
    // The browser may hand the host more descriptors than the standard three;
    // an editor that inherited one would keep the browser's side open.
    uv_disable_stdio_inheritance();

    if (help_requested(argc, argv)) {
        print_help();
        return 0;
    }

    edit_run run{};
    run.body = read_request_message(&run.body_length);
    if (!run.body)
        return 1;
    int status = run_edit(&run);
    // A stop signal caught at any moment while the file exists, also during
    // the final send, keeps it.
    if (caught_stop_signal())
        run.keep = keep_reason::stopped_by_signal;
    teardown(&run);
    end_by_caught_stop_signal();
    return status;
}
