#include "change_watcher.hpp"
#include "command_line.hpp"
#include "editor_command_line.hpp"
#include "editor_lookup.hpp"
#include "editor_process.hpp"
#include "host_state.hpp"
#include "message_channel.hpp"
#include "request_document.hpp"
#include "temporary_file.hpp"

#include <cJSON.h>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
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
    bool content_lost;
};

// Stages 2 to 10 of a run; the first that fails gives status 1, after its own
// message.
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
    if (!spawn_editor(host_state.loop, &run->argv, &run->editor_process))
        return 1;
    uv_run(host_state.loop, UV_RUN_DEFAULT);
    return finish_edit(&run->content_lost);
}

void remove_temporary_file(const edit_run *run)
{
    if (!host_state.temp_path)
        return;
    if (run->content_lost) {
        fprintf(stderr, "The edited text could not be sent and is kept in %s\n",
                host_state.temp_path);
        return;
    }
    if (unlink(host_state.temp_path) != 0)
        perror("unlink");
}

// The path belongs to the vector once placed there; only a failed copy of the
// bare name leaves it outside.
bool temp_path_outside_argv(const edit_run *run)
{
    return host_state.temp_path &&
           !(run->argv.slots && run->argv.slots[run->argv.count - 2] == host_state.temp_path);
}

void teardown(edit_run *run)
{
    remove_temporary_file(run);
    if (temp_path_outside_argv(run))
        free(host_state.temp_path);
    free(host_state.temp_name);
    free_editor_argv(&run->argv);
    free(run->editor_path);
    free(run->body);
    cJSON_Delete(run->request);
    free(run->members.text);
    free(run->members.ext);
    free(host_state.temp_dir);
    host_state.temp_dir = nullptr;
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
    teardown(&run);
    return status;
}
