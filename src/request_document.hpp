#pragma once

#include <cJSON.h>
#include <cstdint>

// Parses the NUL-terminated request body. Gives the document (the caller
// deletes it with cJSON_Delete), or null after reporting where parsing stopped.
cJSON *parse_request(const char *body);

// Gives a fresh copy of the string member name of item (the caller frees it),
// or null when item is not an object or the member is missing, not a string or
// cannot be copied. *length receives the value's strlen before the copy is
// made, and is left alone in every other case. Prints nothing.
char *get_string_member(const cJSON *item, uint32_t *length, const char *name);

struct request_members {
    char *text;
    uint32_t text_length;
    char *ext; // null when the request has no usable extension
    uint32_t ext_length;
};

// Reads "text", then "ext", into members, whose lengths start at 0. Gives false
// after "Failed to read 'text' value"; a missing or unusable "ext" is no failure.
bool read_text_and_ext(const cJSON *request, request_members *members);
