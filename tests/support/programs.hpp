#pragma once

#include <string>

// The path of the executable file name in the directories of the colon-
// separated list path (by default $PATH, or /usr/bin:/bin when it is unset);
// empty when there is none. Tests that need a tool the machine may lack
// (strace, groff) look it up first and are skipped, naming it, without it.
std::string find_program(const std::string &name, const char *path = nullptr);
