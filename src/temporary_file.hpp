#pragma once

#include "editor_command_line.hpp"

#include <cstdint>

// Creates a new file, readable and writable by its owner only, in TMPDIR (or
// /tmp), named zuraze_ with eight unique characters and, when ext_length is
// not 0, a dot and ext; writes text into it and closes it. Sets temp_dir,
// temp_path and temp_name in host_state and puts the path into the vector's
// file slot, which then owns it. Gives false after its messages; temp_path is
// set exactly when the file exists, so that the teardown removes it.
bool create_temporary_file(const char *text, uint32_t text_length, const char *ext,
                           uint32_t ext_length, editor_argv *argv);
