#include "editor_command_line.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// gvim leaves the terminal and goes on in the background unless told to stay
// in the foreground with -f, which vim accepts too; the edit lasts exactly as
// long as the started process.
bool is_vim_family(const char *editor_path)
{
    size_t length = strlen(editor_path);
    return length >= 3 && memcmp(editor_path + length - 3, "vim", 3) == 0;
}

// Editors that keep one instance per session hand the file to a window that
// is already open and exit at once, which would end the edit before it starts;
// each has an option that makes the started process stay until the file is
// closed (mousepad's is a separate instance). Each was checked with the real
// editor by tests/real-editors. Sublime Text's --wait could not be checked
// and is left to the user.
struct stay_rule {
    const char *file_name;
    const char *option;
};
constexpr stay_rule stay_rules[] = {
    {"gedit", "--wait"},
    {"kate", "--block"},
    {"mousepad", "--disable-server"},
};

bool is_string_argument(const cJSON *child)
{
    return cJSON_IsString(child) && cJSON_GetStringValue(child);
}

bool has_argument(const cJSON *args, const char *argument)
{
    for (const cJSON *child = args->child; child; child = child->next)
        if (is_string_argument(child) && strcmp(cJSON_GetStringValue(child), argument) == 0)
            return true;
    return false;
}

// The option to add for the editor's file name (the path after its last
// slash), or null: none for this editor, or "args" already holds it.
const char *stay_option(const cJSON *args, const char *editor_path)
{
    const char *slash = strrchr(editor_path, '/');
    const char *file_name = slash ? slash + 1 : editor_path;
    for (const stay_rule &rule : stay_rules)
        if (strcmp(file_name, rule.file_name) == 0)
            return has_argument(args, rule.option) ? nullptr : rule.option;
    return nullptr;
}

size_t count_string_arguments(const cJSON *args)
{
    size_t count = 0;
    for (const cJSON *child = args->child; child; child = child->next)
        if (is_string_argument(child))
            count++;
    return count;
}

editor_argv fill_editor_argv(const cJSON *args, const char *editor_path)
{
    size_t vim_flag = is_vim_family(editor_path) ? 1 : 0;
    const char *stay = stay_option(args, editor_path);
    size_t count = 3 + vim_flag + (stay ? 1 : 0) + count_string_arguments(args);
    char **slots = static_cast<char **>(calloc(count, sizeof *slots));
    if (!slots) {
        perror("malloc");
        return {nullptr, 0};
    }

    // A copy that fails leaves its slot null; the editor path's is caught when
    // the editor is started.
    slots[0] = strdup(editor_path);
    size_t index = 1;
    for (const cJSON *child = args->child; child; child = child->next) {
        if (!is_string_argument(child))
            continue;
        slots[index] = strdup(cJSON_GetStringValue(child));
        if (!slots[index])
            perror("strdup");
        index++;
    }
    if (vim_flag)
        slots[index++] = strdup("-f");
    if (stay)
        slots[index] = strdup(stay);
    return {slots, count};
}

} // namespace

editor_argv build_editor_argv(const cJSON *request, const char *editor_path)
{
    editor_argv argv{nullptr, 0};
    if (cJSON_IsObject(request)) {
        const cJSON *args = cJSON_GetObjectItemCaseSensitive(request, "args");
        if (args) {
            argv = fill_editor_argv(args, editor_path);
        } else {
            // A missing "args" reads as an empty one; the stand-in is not part
            // of the request, so it goes as soon as the vector is built.
            cJSON *no_args = cJSON_CreateObject();
            if (no_args) {
                argv = fill_editor_argv(no_args, editor_path);
                cJSON_Delete(no_args);
            } else if (const char *error = cJSON_GetErrorPtr()) {
                fprintf(stderr, "Failed creating JSON object: %s\n", error);
            }
        }
    }
    if (!argv.slots)
        fputs("Couldn't get editor arguments\n", stderr);
    return argv;
}

void free_editor_argv(editor_argv *argv)
{
    if (!argv->slots)
        return;
    for (size_t i = 0; i < argv->count; i++)
        free(argv->slots[i]);
    free(argv->slots);
    argv->slots = nullptr;
    argv->count = 0;
}
