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
// any other is searched for in each directory of PATH, the first that has it
// winning. Gives a fresh path the caller frees. Gives null without a message
// for an empty name or one that no directory has, and null after a message
// when PATH is unset or memory runs out.
char *resolve_editor(const char *name, size_t size);

// Gives the path of the request's "editor" when it resolves, else of the first
// default editor that does, as a fresh string the caller frees; null after
// "Editor not found".
char *choose_editor(const cJSON *request);
