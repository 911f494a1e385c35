#include "message_channel.hpp"

#include "host_state.hpp"
#include "whole_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Every frame length is native byte order, as the browsers write it.
constexpr size_t length_field_size = sizeof(uint32_t);

// The most that either browser accepts in one message from a host; a longer
// one makes it close the connection.
constexpr size_t browser_message_limit = 1048576;

// Reads exactly count bytes of the request; end of input or any error
// before that fails, an interrupted read included.
bool read_exactly(void *buffer, size_t count)
{
    return read_fully(0, buffer, count, interrupted_read::fails);
}

} // namespace

char *read_request_message(uint32_t *length)
{
    uint32_t body_length = 0;
    if (!read_exactly(&body_length, length_field_size)) {
        fputs("Failed to read request size\n", stderr);
        return nullptr;
    }

    char *body = static_cast<char *>(malloc(static_cast<size_t>(body_length) + 1));
    if (!body) {
        perror("Failed to allocate memory for the text");
        return nullptr;
    }
    if (!read_exactly(body, body_length)) {
        fputs("Failed to read request body\n", stderr);
        free(body);
        return nullptr;
    }
    body[body_length] = '\0';
    *length = body_length;
    return body;
}

bool write_response_message(const char *text)
{
    size_t text_length = strlen(text);
    if (text_length > UINT32_MAX) {
        fprintf(stderr, "Response of %zu bytes is too long for one message; not sent\n",
                text_length);
        return false;
    }

    if (text_length > browser_message_limit)
        fprintf(stderr,
                "Response of %zu bytes exceeds the browsers' limit of %zu bytes; the browser "
                "will close the connection\n",
                text_length, browser_message_limit);

    // The frame goes out whole: one left half-written would corrupt every
    // frame after it on the channel. Only a stop signal cuts it short, as the
    // host ends: a browser that has let go may never read it (Firefox keeps
    // the pipe open, unread, until its SIGTERM).
    uint32_t body_length = static_cast<uint32_t>(text_length);
    if (!write_fully(1, &body_length, length_field_size, &host_state.stop_signal)) {
        fprintf(stderr, "Failed to write response size: %s\n", strerror(errno));
        return false;
    }
    if (!write_fully(1, text, body_length, &host_state.stop_signal)) {
        fprintf(stderr, "Failed to write response body: %s\n", strerror(errno));
        return false;
    }
    return true;
}
