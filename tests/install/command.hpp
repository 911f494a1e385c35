#pragma once

#include <map>
#include <string>
#include <vector>

struct command_result {
    int status = -1; // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs argv[0] (a path) with exactly the environment env and no standard
// input, and waits for it.
command_result run_command(const std::vector<std::string> &argv,
                           const std::vector<std::string> &env);

// Everything below root, by path relative to it: "dir", "file <octal mode> <content>"
// or "link <target>"; for telling that a command touched nothing.
std::map<std::string, std::string> tree_snapshot(const std::string &root);
