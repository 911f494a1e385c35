// Runs the request handling as main does, from the body to the editor's
// argument vector and the members' copies: cJSON_Parse, choose_editor,
// build_editor_argv, read_text_and_ext and get_string_member, with PATH on a
// small fixture directory. Beside the sanitizers' findings it checks that the
// editor is the requested absolute one or one that exists, that the vector
// has the layout the document asks for, and that the copies equal the
// members.

#include "editor_command_line.hpp"
#include "editor_lookup.hpp"
#include "request_document.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void require(bool holds)
{
    if (!holds)
        abort();
}

std::string fixture;

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

void remove_fixture()
{
    nftw(fixture.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void make_file(const std::string &path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
    require(fd >= 0);
    close(fd);
}

// PATH: a directory with some of the default editors and others, an empty
// piece, a directory longer than the lookup's first buffer, and a second
// directory that holds a name of the first again.
void make_fixture()
{
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zuraze-fuzz-XXXXXX";
    require(mkdtemp(&pattern[0]) != nullptr);
    fixture = pattern;
    atexit(remove_fixture);
    std::string bin = fixture + "/bin", more = fixture + "/more";
    require(mkdir(bin.c_str(), 0755) == 0 && mkdir(more.c_str(), 0755) == 0);
    require(mkdir((bin + "/sub").c_str(), 0755) == 0);
    for (const char *name : {"gvim", "gedit", "nano", "vim", "my editor", "sub/editor"})
        make_file(bin + "/" + name);
    for (const char *name : {"kate", "gedit"})
        make_file(more + "/" + name);
    std::string path = bin + "::" + fixture + "/" + std::string(300, 'd') + ":" + more + ":";
    require(setenv("PATH", path.c_str(), 1) == 0);
}

const char *member_string(const cJSON *request, const char *name)
{
    const cJSON *member = cJSON_GetObjectItemCaseSensitive(request, name);
    return cJSON_IsString(member) ? cJSON_GetStringValue(member) : nullptr;
}

void check_editor(const cJSON *request, const char *editor)
{
    const char *requested = cJSON_IsObject(request) ? member_string(request, "editor") : nullptr;
    if (requested && requested[0] == '/')
        require(strcmp(editor, requested) == 0);
    else
        require(access(editor, F_OK) == 0);
}

// The option that keeps an editor that hands files off from doing so, by the
// file name of its path.
const char *stay_option_of(const char *editor)
{
    const char *slash = strrchr(editor, '/');
    const char *name = slash ? slash + 1 : editor;
    if (strcmp(name, "gedit") == 0)
        return "--wait";
    if (strcmp(name, "kate") == 0)
        return "--block";
    if (strcmp(name, "mousepad") == 0)
        return "--disable-server";
    return nullptr;
}

bool has_string(const cJSON *args, const char *value)
{
    for (const cJSON *child = args ? args->child : nullptr; child; child = child->next)
        if (cJSON_IsString(child) && child->valuestring && strcmp(child->valuestring, value) == 0)
            return true;
    return false;
}

void check_argv(const cJSON *request, const char *editor, const editor_argv &argv)
{
    const cJSON *args = cJSON_GetObjectItemCaseSensitive(request, "args");
    size_t length = strlen(editor);
    size_t vim = length >= 3 && memcmp(editor + length - 3, "vim", 3) == 0;
    size_t index = 1;
    require(strcmp(argv.slots[0], editor) == 0);
    for (const cJSON *child = args ? args->child : nullptr; child; child = child->next) {
        if (!cJSON_IsString(child) || !child->valuestring)
            continue;
        require(index < argv.count - 2 && strcmp(argv.slots[index], child->valuestring) == 0);
        index++;
    }
    if (vim)
        require(strcmp(argv.slots[index++], "-f") == 0);
    const char *stay = stay_option_of(editor);
    if (stay && !has_string(args, stay))
        require(strcmp(argv.slots[index++], stay) == 0);
    require(argv.count == index + 2 && !argv.slots[index] && !argv.slots[index + 1]);
}

void check_copy(const char *copy, uint32_t length, const char *value)
{
    require((copy != nullptr) == (value != nullptr));
    if (copy)
        require(strcmp(copy, value) == 0 && length == strlen(value));
    else
        require(length == 0);
}

void handle(const cJSON *request)
{
    char *editor = choose_editor(request);
    require(editor != nullptr); // gvim is on PATH
    check_editor(request, editor);

    editor_argv argv = build_editor_argv(request, editor);
    require((argv.slots != nullptr) == cJSON_IsObject(request));
    if (argv.slots) {
        check_argv(request, editor, argv);
        request_members members{};
        bool read = read_text_and_ext(request, &members);
        require(read == (member_string(request, "text") != nullptr));
        if (read) {
            check_copy(members.text, members.text_length, member_string(request, "text"));
            check_copy(members.ext, members.ext_length, member_string(request, "ext"));
        }
        free(members.text);
        free(members.ext);
    }

    // Every member that is itself an object is read from as well.
    for (const cJSON *child = request->child; child; child = child->next) {
        uint32_t length = 0;
        char *copy = get_string_member(child, &length, "text");
        check_copy(copy, length, cJSON_IsObject(child) ? member_string(child, "text") : nullptr);
        free(copy);
    }
    free_editor_argv(&argv);
    free(editor);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    make_fixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The body as the reader hands it on: the bytes, then a NUL.
    char *body = static_cast<char *>(malloc(size + 1));
    memcpy(body, data, size);
    body[size] = '\0';
    cJSON *request = parse_request(body);
    if (request)
        handle(request);
    cJSON_Delete(request);
    free(body);
    return 0;
}
