#include "temporary_file.hpp"

#include "host_state.hpp"
#include "whole_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t name_template_length = sizeof "zuraze_XXXXXXXX" - 1;

// Gives a copy of TMPDIR with at most one trailing '/' removed, or of "/tmp",
// and in *counter its length plus one for the separator.
char *copy_temporary_directory(size_t *counter)
{
    const char *tmpdir = getenv("TMPDIR");
    if (!tmpdir || tmpdir[0] == '\0') {
        *counter = sizeof "/tmp";
        return strdup("/tmp");
    }
    size_t length = strlen(tmpdir);
    if (tmpdir[length - 1] == '/') {
        *counter = length;
        return strndup(tmpdir, length - 1);
    }
    *counter = length + 1;
    return strdup(tmpdir);
}

// Gives the descriptor of the new file, whose name replaces the X in path,
// or -1 after its messages.
int make_unique_file(char *path, size_t suffix_length)
{
    const char *call = suffix_length ? "mkstemps" : "mkstemp";
    int fd = suffix_length ? mkstemps(path, static_cast<int>(suffix_length)) : mkstemp(path);
    if (fd >= 0)
        return fd;
    if (errno == EEXIST)
        fprintf(stderr, "%s: Temporary file already exists: %s\n", call, path);
    else
        fprintf(stderr, "%s: Failed to create temporary file: %s\n", call, strerror(errno));
    return -1;
}

bool fail_to_open()
{
    fputs("Failed to open temporary file\n", stderr);
    return false;
}

} // namespace

bool create_temporary_file(const char *text, uint32_t text_length, const char *ext,
                           uint32_t ext_length, editor_argv *argv)
{
    size_t suffix_length = ext_length ? static_cast<size_t>(ext_length) + 1 : 0;

    size_t counter = 0;
    host_state.temp_dir = copy_temporary_directory(&counter);
    if (!host_state.temp_dir) {
        fputs("Failed to allocate temporary directory name\n", stderr);
        return fail_to_open();
    }

    size_t path_size = counter + name_template_length + suffix_length + 1;
    char *path = static_cast<char *>(calloc(path_size, 1));
    if (!path) {
        fprintf(stderr, "malloc failed: %s\n", strerror(errno));
        return fail_to_open();
    }
    int directory_width = static_cast<int>(counter);
    if (suffix_length)
        snprintf(path, path_size, "%.*s%czuraze_XXXXXXXX.%.*s", directory_width,
                 host_state.temp_dir, '/', static_cast<int>(ext_length), ext);
    else
        snprintf(path, path_size, "%.*s%czuraze_XXXXXXXX", directory_width, host_state.temp_dir,
                 '/');

    int fd = make_unique_file(path, suffix_length);
    if (fd < 0) {
        free(path);
        return fail_to_open();
    }
    host_state.temp_path = path;

    host_state.temp_name = strdup(strrchr(path, '/') + 1);
    if (!host_state.temp_name) {
        fputs("Failed to allocate temporary filename copy\n", stderr);
        close(fd);
        return false;
    }
    argv->slots[argv->count - 2] = path;

    // A short write is continued, so that only a real failure is reported,
    // and with its own error text rather than whatever errno held before.
    if (!write_fully(fd, text, text_length)) {
        perror("Temporary file is not writable");
        close(fd);
        return false;
    }
    if (close(fd) != 0) {
        perror("close");
        return false;
    }
    return true;
}
