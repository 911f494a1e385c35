#include "editor_lookup.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

const editor_name default_editors[6] = {
    {"gvim", sizeof "gvim"}, {"sublime", sizeof "sublime"},   {"gedit", sizeof "gedit"},
    {"kate", sizeof "kate"}, {"mousepad", sizeof "mousepad"}, {"leafpad", sizeof "leafpad"},
};

namespace {

constexpr size_t initial_candidate_capacity = 256;
constexpr size_t candidate_growth_slack = 128;

// Tries directory/name for each directory of path_copy, which it cuts up.
// Gives the candidate buffer on the first one that exists, else null; *buffer
// and *capacity follow every growth so that the caller can release the buffer.
char *search_directories(char *path_copy, const char *name, size_t size, char **buffer,
                         size_t *capacity)
{
    char *save = nullptr;
    for (char *dir = strtok_r(path_copy, ":", &save); dir; dir = strtok_r(nullptr, ":", &save)) {
        size_t dir_length = strlen(dir);
        size_t need = dir_length + 1 + size;
        if (need > *capacity) {
            char *grown = static_cast<char *>(realloc(*buffer, need + candidate_growth_slack));
            if (!grown) {
                perror("realloc");
                return nullptr;
            }
            *buffer = grown;
            *capacity = need + candidate_growth_slack;
        }
        // Every byte up to need is written; the name's NUL ends the candidate.
        char *candidate = *buffer;
        memcpy(candidate, dir, dir_length);
        candidate[dir_length] = '/';
        memcpy(candidate + dir_length + 1, name, size);
        if (access(candidate, F_OK) == 0)
            return candidate;
    }
    return nullptr;
}

} // namespace

char *resolve_editor(const char *name, size_t size)
{
    if (size < 2)
        return nullptr;
    if (name[0] == '/')
        return strdup(name);

    const char *path = getenv("PATH");
    if (!path) {
        perror("Environment variable PATH variable was not found");
        return nullptr;
    }
    char *path_copy = strdup(path);
    if (!path_copy) {
        perror("strdup");
        return nullptr;
    }
    size_t capacity = initial_candidate_capacity;
    char *buffer = static_cast<char *>(malloc(capacity));
    if (!buffer) {
        perror("malloc failed");
        free(path_copy);
        return nullptr;
    }

    char *found = search_directories(path_copy, name, size, &buffer, &capacity);
    free(path_copy);
    if (!found)
        free(buffer);
    return found;
}

char *choose_editor(const cJSON *request)
{
    if (cJSON_IsObject(request)) {
        const char *requested =
            cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(request, "editor"));
        if (requested) {
            char *path = resolve_editor(requested, strlen(requested) + 1);
            if (path)
                return path;
        }
    }
    for (const editor_name &fallback : default_editors) {
        char *path = resolve_editor(fallback.name, fallback.size);
        if (path)
            return path;
    }
    fputs("Editor not found\n", stderr);
    return nullptr;
}
