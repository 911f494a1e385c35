#include "file_response_sender.hpp"

#include "message_channel.hpp"
#include "utf8_validation.hpp"
#include "whole_io.hpp"

#include <cJSON.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Gives the file's first size bytes in a buffer of size + 1 bytes that ends
// in NUL, or null after a message.
char *read_whole_file(int fd, size_t size)
{
    char *buffer = static_cast<char *>(calloc(1, size + 1));
    if (!buffer) {
        fprintf(stderr, "Failed to allocate memory for read buffer: %s\n", strerror(errno));
        return nullptr;
    }

    // Reading stops at end of file too, so clear errno to keep a stale error
    // text out of the message about a file that shrank.
    errno = 0;
    if (!read_fully(fd, buffer, size, interrupted_read::fails)) {
        fprintf(stderr, "Failed to read %zu bytes from fd %ld: %s\n", size, static_cast<long>(fd),
                strerror(errno));
        free(buffer);
        return nullptr;
    }
    buffer[size] = '\0';
    return buffer;
}

// The document refers to the buffer rather than copying it, so the content
// is held once here and once, escaped, in the printed text. The object takes
// the string item itself, which still only refers to the buffer: a reference
// item made by cJSON_AddItemReferenceToObject would be lost inside cJSON when
// the copy of the key fails.
char *print_response(const char *content)
{
    cJSON *text = cJSON_CreateStringReference(content);
    if (!text)
        return nullptr;
    cJSON *response = cJSON_CreateObject();
    if (!response) {
        cJSON_Delete(text);
        return nullptr;
    }

    char *printed = nullptr;
    if (!cJSON_AddItemToObject(response, "text", text)) {
        if (const char *error = cJSON_GetErrorPtr())
            fprintf(stderr, "Failed adding 'text' to JSON response: %s\n", error);
        cJSON_Delete(text);
    } else {
        printed = cJSON_PrintUnformatted(response);
        if (!printed) {
            if (const char *error = cJSON_GetErrorPtr())
                fprintf(stderr, "Failed converting JSON to string: %s\n", error);
        }
    }
    cJSON_Delete(response);
    return printed;
}

} // namespace

send_outcome send_file_response(const char *path)
{
    send_outcome outcome{};
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        fprintf(stderr, "%s: Failed to open file %s: %s\n", "send_file_response", path,
                strerror(errno));
        return outcome;
    }

    off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
        perror("lseek");
        close(fd);
        return outcome;
    }
    if (lseek(fd, 0, SEEK_SET) < 0) {
        // perror may itself change errno (glibc's opens a stream on a copy of
        // descriptor 2, which fails on a write-only pipe), so the second line
        // names the seek's own error.
        int error = errno;
        perror("lseek");
        fprintf(stderr, "Failed to lseek to 0: %s\n", strerror(error));
        close(fd);
        return outcome;
    }

    size_t size = static_cast<size_t>(end);
    char *content = read_whole_file(fd, size);
    if (!content) {
        close(fd);
        return outcome;
    }
    // The document takes the content as a NUL-terminated string, so it ends
    // at the first NUL byte; the caller learns what the browser did not get.
    size_t sent_length = strlen(content);
    outcome.cut_at_nul = sent_length < size;
    outcome.not_utf8 = !is_valid_utf8(content, sent_length);
    char *printed = print_response(content);
    free(content);
    close(fd);
    if (!printed)
        return outcome;

    outcome.sent = write_response_message(printed);
    free(printed);
    return outcome;
}
