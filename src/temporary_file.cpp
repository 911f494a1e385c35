#include "temporary_file.hpp"

#include "host_state.hpp"
#include "stop_signals.hpp"
#include "whole_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// mkstemp and mkstemps replace the X.
constexpr char name_template[] = "zuraze_XXXXXXXX";

// Gives a copy of TMPDIR with at most one trailing '/' removed, or of "/tmp".
char *copy_temporary_directory()
{
    const char *tmpdir = getenv("TMPDIR");
    if (!tmpdir || tmpdir[0] == '\0')
        return strdup("/tmp");
    size_t length = strlen(tmpdir);
    if (tmpdir[length - 1] == '/')
        return strndup(tmpdir, length - 1);
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

    host_state.temp_dir = copy_temporary_directory();
    if (!host_state.temp_dir) {
        fputs("Failed to allocate temporary directory name\n", stderr);
        return fail_to_open();
    }

    size_t path_size =
        strlen(host_state.temp_dir) + 1 + (sizeof name_template - 1) + suffix_length + 1;
    char *path = static_cast<char *>(calloc(path_size, 1));
    if (!path) {
        fprintf(stderr, "malloc failed: %s\n", strerror(errno));
        return fail_to_open();
    }
    if (suffix_length)
        snprintf(path, path_size, "%s/%s.%.*s", host_state.temp_dir, name_template,
                 static_cast<int>(ext_length), ext);
    else
        snprintf(path, path_size, "%s/%s", host_state.temp_dir, name_template);

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

void remove_or_keep_temporary_file(keep_reason reason)
{
    const char *path = host_state.temp_path;
    if (!path)
        return;
    // A switch rather than a table of formats: the compiler checks each
    // format against its arguments, and names a reason left without a line.
    switch (reason) {
    case keep_reason::none:
        if (unlink(path) != 0)
            perror("unlink");
        return;
    case keep_reason::text_not_sent:
        fprintf(stderr, "The edited text could not be sent and is kept in %s\n", path);
        return;
    case keep_reason::cut_at_nul:
        fprintf(stderr,
                "The edited text holds a NUL byte, so the page got only what precedes it; the "
                "whole text is kept in %s\n",
                path);
        return;
    case keep_reason::not_utf8:
        fprintf(stderr,
                "The edited text holds bytes that are not UTF-8, which the browser replaces; the "
                "original is kept in %s\n",
                path);
        return;
    case keep_reason::connection_closed:
        fprintf(stderr, "The browser closed the connection; the edited text is kept in %s\n", path);
        return;
    case keep_reason::stopped_by_signal:
        fprintf(stderr, "Stopped by %s; the edited text is kept in %s\n",
                stop_signal_name(caught_stop_signal()), path);
        return;
    }
}

void free_temporary_file_names(const editor_argv *argv)
{
    // The path belongs to the vector once placed there; only a failed copy of
    // the bare name leaves it outside.
    bool owned_by_argv = argv->slots && argv->slots[argv->count - 2] == host_state.temp_path;
    if (!owned_by_argv)
        free(host_state.temp_path);
    host_state.temp_path = nullptr;
    free(host_state.temp_name);
    host_state.temp_name = nullptr;
    free(host_state.temp_dir);
    host_state.temp_dir = nullptr;
}
