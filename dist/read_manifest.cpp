// zuraze-host-read-manifest FILE: reads a native messaging manifest the way
// the browsers parse it (strict JSON) and prints what zuraze-host-register's
// doctor checks, as shell assignments that it evaluates:
//   m_json=yes|no|not-object      m_error='...' (when no)
//   m_KEY_kind=string|missing|other and m_KEY='...' for name, description,
//   path and type
//   m_KEY_kind=array|missing|other, m_KEY_count=N and m_KEY_1='...' ... for
//   allowed_origins and allowed_extensions; an entry that is not a string is
//   given as its JSON text, which no allow-list entry can match.
// Exit status: 0 once the file was read, 1 when it could not be, 2 for a wrong
// command line.
#include <cJSON.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t error_context = 40;

// Single quotes keep everything literal but a single quote, which closes,
// gives an escaped one and opens again.
void print_assignment(const std::string &variable, const char *value)
{
    std::string quoted = "'";
    for (const char *c = value; *c; c++) {
        if (*c == '\'')
            quoted += "'\\''";
        else
            quoted += *c;
    }
    quoted += "'";
    printf("%s=%s\n", variable.c_str(), quoted.c_str());
}

void print_string_member(const cJSON *document, const char *key)
{
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(document, key);
    std::string variable = std::string("m_") + key;
    if (!item) {
        printf("%s_kind=missing\n", variable.c_str());
    } else if (cJSON_IsString(item) && item->valuestring) {
        printf("%s_kind=string\n", variable.c_str());
        print_assignment(variable, item->valuestring);
    } else {
        printf("%s_kind=other\n", variable.c_str());
    }
}

void print_list_member(const cJSON *document, const char *key)
{
    const cJSON *list = cJSON_GetObjectItemCaseSensitive(document, key);
    std::string variable = std::string("m_") + key;
    if (!list) {
        printf("%s_kind=missing\n", variable.c_str());
        return;
    }
    if (!cJSON_IsArray(list)) {
        printf("%s_kind=other\n", variable.c_str());
        return;
    }
    printf("%s_kind=array\n", variable.c_str());
    int count = 0;
    for (const cJSON *entry = list->child; entry; entry = entry->next) {
        count++;
        std::string entry_variable = variable + "_" + std::to_string(count);
        if (cJSON_IsString(entry) && entry->valuestring) {
            print_assignment(entry_variable, entry->valuestring);
        } else {
            char *text = cJSON_PrintUnformatted(entry);
            print_assignment(entry_variable, text ? text : "?");
            free(text);
        }
    }
    printf("%s_count=%d\n", variable.c_str(), count);
}

// How much of the file one read takes.
constexpr size_t read_chunk = 4096;

// Gives the whole file, or false after saying why it could not be read.
bool read_file(const char *file, std::string *content)
{
    FILE *stream = fopen(file, "rb");
    if (!stream) {
        fprintf(stderr, "cannot read %s: %s\n", file, strerror(errno));
        return false;
    }
    char buffer[read_chunk];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, stream)) > 0;)
        content->append(buffer, n);
    bool failed = ferror(stream) != 0;
    int saved_errno = errno;
    fclose(stream);
    if (failed)
        fprintf(stderr, "cannot read %s: %s\n", file, strerror(saved_errno));
    return !failed;
}

// The text where cJSON stopped, cut short and on one line.
std::string error_near(const char *position)
{
    std::string near;
    for (const char *c = position; *c && near.size() < error_context; c++)
        near += (*c == '\n' || *c == '\r' || *c == '\t') ? ' ' : *c;
    return near.empty() ? "the end of the file" : "\"" + near + "\"";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fputs("usage: zuraze-host-read-manifest FILE\n", stderr);
        return 2;
    }
    std::string content;
    if (!read_file(argv[1], &content))
        return 1;

    if (content.find('\0') != std::string::npos) {
        puts("m_json=no");
        print_assignment("m_error", "a NUL byte in the file");
        return 0;
    }
    // The length takes in the string's terminator, which is where cJSON looks
    // for the end of the text when nothing may follow the document.
    const char *end = nullptr;
    cJSON *document = cJSON_ParseWithLengthOpts(content.c_str(), content.size() + 1, &end, true);
    if (!document) {
        const char *where = cJSON_GetErrorPtr();
        puts("m_json=no");
        std::string message = "invalid JSON near " + error_near(where ? where : "");
        print_assignment("m_error", message.c_str());
        return 0;
    }
    if (!cJSON_IsObject(document)) {
        puts("m_json=not-object");
        cJSON_Delete(document);
        return 0;
    }
    puts("m_json=yes");
    for (const char *key : {"name", "description", "path", "type"})
        print_string_member(document, key);
    for (const char *key : {"allowed_origins", "allowed_extensions"})
        print_list_member(document, key);
    cJSON_Delete(document);
    return 0;
}
