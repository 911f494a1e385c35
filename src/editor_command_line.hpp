#pragma once

#include <cJSON.h>
#include <cstddef>

// A null-terminated vector of owned strings: the editor, the request's
// arguments, "-f" for a vim-family editor, the file's path, the null. The
// file's slot (count - 2) stays null until the temporary file exists.
struct editor_argv {
    char **slots; // null when the vector could not be built
    size_t count; // slots, the terminator included
};

// Builds the vector from the request's "args" and a copy of editor_path.
// Gives slots null after "Couldn't get editor arguments".
editor_argv build_editor_argv(const cJSON *request, const char *editor_path);

// Frees every non-null slot over the whole count, then the array.
void free_editor_argv(editor_argv *argv);
