#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <sys/types.h>
#include <uv.h>

// What the edit's start looked like: when the editor was started, on the
// loop's clock, and the temporary file as the host left it.
struct edit_start {
    uint64_t started_ms;
    bool file_seen; // false when the file could not be looked at
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
};

// Notes the loop's time and the file at path, right before the editor starts.
void note_edit_start(uv_loop_t *loop, const char *path, edit_start *start);

// Once the editor has exited: when that was less than a second after its
// start and the file never changed (it is still the file that the host wrote,
// with the same size and modification time, and it holds exactly the
// text_length bytes of text), says on standard error that the editor may have
// handed the file to a window that was already open, naming editor_path.
// Prints nothing otherwise; sends nothing and changes nothing.
void report_early_exit(uv_loop_t *loop, const edit_start *start, const char *editor_path,
                       const char *path, const char *text, size_t text_length);
