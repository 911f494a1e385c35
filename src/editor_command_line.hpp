#pragma once

#include <cJSON.h>
#include <cstddef>

// A null-terminated vector of owned strings: the editor, the request's
// arguments, "-f" for a vim-family editor or the option that keeps gedit
// (--wait), kate (--block) or mousepad (--disable-server) from handing the file
// to a window already open (unless the arguments hold it already), the file's
// path, the null. The file's slot (count - 2) stays null until the temporary
// file exists.
struct editor_argv {
    char **slots; // null when the vector could not be built
    size_t count; // slots, the terminator included
};

// Builds the vector from the strings among the request's "args" (a missing
// "args" counts as empty) and a copy of editor_path; the caller keeps both and
// frees the vector with free_editor_argv. Gives slots null after "Couldn't get
// editor arguments" when request is not an object or memory runs out; a
// string that cannot be copied leaves its slot null.
editor_argv build_editor_argv(const cJSON *request, const char *editor_path);

// Frees every non-null slot over the whole count, then the array, and leaves
// argv empty (slots null, count 0), so a second call does nothing.
void free_editor_argv(editor_argv *argv);
