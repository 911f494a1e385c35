#pragma once

#include <functional>
#include <string>
#include <vector>

// Runs the built host as a browser would: argv, environment and standard
// input prepared, standard output read as frames while it runs.
struct host_options {
    std::vector<std::string> args; // after the program's own name
    std::vector<std::string> env;  // the host's whole environment
    std::string input;             // written on standard input, which stays open
    bool close_input = false;      // end standard input after the input
    double read_delay = 0;         // seconds before standard output is first read
    bool stdout_gone = false;      // standard output's reader has gone (SIGPIPE ignored)
    bool descriptor_3 = false;     // a pipe on descriptor 3, as Firefox passes one
    long file_size_limit = -1;     // RLIMIT_FSIZE in bytes, with SIGXFSZ ignored
    double timeout = 60;           // seconds before the host is killed
    // Runs the host in place of $ZURAZE_TEST_WRAPPER when not empty.
    std::vector<std::string> wrapper;
    // Called once the host waits on standard input, before the input goes in:
    // after a wrapper has started up, say.
    std::function<void()> before_input;
    // Once the file at act_when exists (a mark of the scripted editor, say),
    // the runner acts once, in this order: it closes standard input's writer,
    // closes standard output's reader, sends act_signal to the host, and calls
    // act_call with the host's pid.
    std::string act_when;
    bool act_close_input = false;
    bool act_close_output = false;
    int act_signal = 0;
    std::function<void(int pid)> act_call;
};

struct host_frame {
    std::string body;
    double at; // seconds since the epoch when its last byte arrived
};

struct host_result {
    std::vector<host_frame> frames;
    std::string stray_output; // bytes on standard output that make no whole frame
    std::string err;          // standard error, without the early exit notice
    // The line "The editor ... exited ... ms after it started without changing
    // the file; ..." when the host printed it, else empty.
    std::string early_exit_notice;
    int status = -1; // exit status, or 128 + signal number
    bool timed_out = false;
    std::string unread_input;
    double started_at = 0;
    double exited_at = 0;
    double descriptor_3_closed_at = 0;      // when descriptor 3's last writer went
    double acted_at = 0;                    // when the runner acted, or 0
    std::vector<std::string> texts() const; // the "text" of each frame
};

// The wrapper in $ZURAZE_TEST_WRAPPER (valgrind, say) runs the host when set.
host_result run_host(const host_options &options);

double now_seconds();

// A request document with text and, when given, editor, args and ext.
std::string edit_request(const std::string &text, const std::string &editor = "",
                         const std::vector<std::string> &args = {}, const std::string &ext = "");
