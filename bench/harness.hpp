#pragma once

// The harness that plays the browser: it starts a host on one request with
// the benchmark's editor (bench_editor.cpp), commands that editor through a
// FIFO, reads the host's frames and the editor's notes, and keeps all of it
// in one scratch directory.

#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

// Makes the scratch directory and points the host (TMPDIR) and the editor
// (ZURAZE_BENCH_LOG, ZURAZE_BENCH_CONTROL) at it; fails the run when it
// cannot.
void make_scratch();

// Removes the scratch directory with what the harness keeps in it.
void remove_scratch();

// The scratch directory: the host's TMPDIR, the editor's log and FIFO.
const std::string &scratch_dir();

// Ends the run with status 1 after what on standard error, with what the hosts
// said and where their files are kept.
[[noreturn]] void fail(const char *what);

// The text of a response frame's body; empty when it has none.
std::string response_text(const std::string &body);

struct child {
    pid_t pid = -1;
    int to = -1;
    int from = -1;
    long long exec_ns = 0; // the child's clock just before its exec
};

// Starts argv[0], found on PATH without a slash, with its standard input and
// output on pipes and its standard error on the hosts' log.
child start(const std::vector<std::string> &argv);

// Closes the pipes, waits for the child and gives its resource usage.
rusage finish(child *c);

// A host on one request, with the benchmark's editor, its log and its control
// FIFO fresh for this run.
struct host_run {
    child host;
    int control = -1;
};

// Starts host (under the words of wrap, when there are any) on a request for
// text with editor; the request is written and the host's input closed.
host_run start_host(const char *host, const std::vector<std::string> &wrap, const char *editor,
                    const std::string &text);

// Sends the editor one command: 's' save, 't' touch, 'q' quit.
void command(host_run *run, char what);

// Ends the edit: the editor quits, the host sends the final frame and exits.
void quit(host_run *run);

// The editor's notes of the current run: lines "WORD [N] NS".
struct editor_note {
    std::string word;
    int number;
    long long ns;
};

std::vector<editor_note> read_notes();

// Waits until the editor has noted its start, and gives that moment.
long long wait_for_editor_start();

// Prints each distinct line the hosts wrote on standard error, with how
// often.
void summarize_host_log();
