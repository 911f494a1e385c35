#include "request_document.hpp"

#include <cstdio>
#include <cstring>

cJSON *parse_request(const char *body)
{
    cJSON *request = cJSON_Parse(body);
    if (!request) {
        const char *error = cJSON_GetErrorPtr();
        if (error)
            fprintf(stderr, "Failed parsing browser request: %s\n", error);
    }
    return request;
}

char *get_string_member(const cJSON *item, uint32_t *length, const char *name)
{
    if (!cJSON_IsObject(item))
        return nullptr;
    const cJSON *member = cJSON_GetObjectItemCaseSensitive(item, name);
    if (!member)
        return nullptr;
    if (!cJSON_IsString(member))
        return nullptr;
    const char *value = cJSON_GetStringValue(member);
    if (!value)
        return nullptr;
    size_t value_length = strlen(value);
    *length = static_cast<uint32_t>(value_length);
    return strndup(value, value_length);
}

bool read_text_and_ext(const cJSON *request, request_members *members)
{
    members->text = get_string_member(request, &members->text_length, "text");
    if (!members->text) {
        fputs("Failed to read 'text' value\n", stderr);
        return false;
    }

    members->ext = get_string_member(request, &members->ext_length, "ext");
    // The length is stored before the copy is made, so a length without a copy
    // means the copy failed: go on as if the extension were empty.
    if (!members->ext && members->ext_length != 0) {
        fputs("Failed to copy 'ext' value; going on without an extension\n", stderr);
        members->ext_length = 0;
    }
    return true;
}
