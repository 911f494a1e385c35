#pragma once

// Notices that the browser has let go of the host while the editor runs: the
// writer of standard input has gone, or the reader of standard output. Reads
// nothing: bytes after the request stay unread.
//
// 300 ms after this call, when the file watch starts too, the host decides
// once who its caller is. When standard input's writer has already gone, the
// caller wrote one request and closed its end (a script, a request from a
// pipe): nothing is watched and the edit runs to the editor's exit as
// always. Otherwise each end that is still open and can be watched (a pipe, a
// socket or a terminal; not a regular file or the null device) is watched,
// and SIGPIPE is ignored from then on, so that a frame that races with the
// close fails with a message instead of ending the host. When a watched end
// closes, the watch stops, host_state.connection_closed is set and the loop
// in host_state is stopped, so that uv_run returns.
//
// Needs the loop in host_state. Gives false after a message.
bool init_connection_watch();

// True when the browser has let go: a watched end was seen closed, or is
// closed now. For the moment between the editor's exit and the final send.
bool connection_closed();
