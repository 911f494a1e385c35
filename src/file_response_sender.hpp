#pragma once

// What one send did with the file's content.
struct send_outcome {
    bool sent;       // the whole frame went out
    bool cut_at_nul; // the content holds a NUL byte: only what precedes it was put in the frame
    bool not_utf8;   // what was put in the frame holds bytes that are not valid UTF-8, which
                     // the browser replaces
};

// Reads the file at path whole and sends its content, up to its first NUL
// byte, as one response {"text": ...}. The caller keeps path. sent is true
// when the frame went out; false after a message on standard error, in which
// case nothing, or only what the channel's writer reported, was sent. The two
// flags describe the content whenever it was read, sent or not, and are false
// when it was not.
send_outcome send_file_response(const char *path);
