#pragma once

#include "editor_command_line.hpp"

#include <cstdint>

// Creates a new file, readable and writable by its owner only, in TMPDIR (or
// /tmp), named zuraze_ with eight unique characters and, when ext_length is
// not 0, a dot and ext; writes text into it and closes it. The caller keeps
// text and ext. Sets temp_dir, temp_path and temp_name in host_state and puts
// the path into the vector's file slot, which then owns it. Gives false after
// its messages; temp_path is set exactly when the file exists, so that the
// teardown removes it.
bool create_temporary_file(const char *text, uint32_t text_length, const char *ext,
                           uint32_t ext_length, editor_argv *argv);

// Why the file outlives the run. Each reason but none has its own line on
// standard error, naming the file, so that the user can recover the text.
enum class keep_reason {
    none,          // the file is removed
    text_not_sent, // the last send of the edited text failed
};

// With none, removes the file at temp_path (perror("unlink") when that
// fails); with any other reason leaves it in place and prints that reason's
// line. Does nothing when there is no file (temp_path null).
void remove_or_keep_temporary_file(keep_reason reason);

// Frees temp_path, unless argv's file slot owns it, then temp_name and
// temp_dir, and sets the three to null. argv may be one that was never built
// (slots null).
void free_temporary_file_names(const editor_argv *argv);
