#pragma once

#include <cJSON.h>
#include <cstddef>

struct editor_name {
    const char *name;
    size_t size; // strlen(name) + 1
};

// The editors tried, in this order, when the request names none that exists.
extern const editor_name default_editors[6];

// Looks name (size = its length + 1) up: an absolute name is copied unchanged,
// any other is searched for in each directory of PATH. Gives a fresh path the
// caller frees, or null; prints its own failures.
char *resolve_editor(const char *name, size_t size);

// Gives the path of the request's "editor" when it resolves, else of the first
// default editor that does; null after "Editor not found".
char *choose_editor(const cJSON *request);
