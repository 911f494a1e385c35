// Drives zuraze-host the way a browser does: starts it, writes one framed
// request on its standard input, and shows every framed response as it
// arrives, until the host exits.

#include "frame_io.hpp"
#include "whole_io.hpp"

#include <cJSON.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char usage[] =
    "usage: zuraze-client [--host PATH] [--editor EDITOR] [--arg ARG]... [--ext EXT] TEXT\n"
    "Sends TEXT to zuraze-host as a browser would and prints every response.\n"
    "--host defaults to the zuraze-host beside this program.\n";

struct options {
    std::string host;
    const char *editor = nullptr;
    std::vector<const char *> args;
    const char *ext = nullptr;
    const char *text = nullptr;
};

// The status of a child that could not start its program, as a shell gives
// for a command it cannot run.
constexpr int cannot_start_status = 127;

using clock_type = std::chrono::steady_clock;
const clock_type::time_point started = clock_type::now();

double seconds_since_start()
{
    return std::chrono::duration<double>(clock_type::now() - started).count();
}

std::string host_beside_this_program()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "zuraze-host";
    std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + "zuraze-host";
}

bool parse_options(int argc, char **argv, options *out)
{
    out->host = host_beside_this_program();
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--host" && has_value)
            out->host = argv[++i];
        else if (arg == "--editor" && has_value)
            out->editor = argv[++i];
        else if (arg == "--arg" && has_value)
            out->args.push_back(argv[++i]);
        else if (arg == "--ext" && has_value)
            out->ext = argv[++i];
        else if (arg.rfind("--", 0) != 0 && !out->text)
            out->text = argv[i];
        else
            return false;
    }
    return out->text != nullptr;
}

char *build_request(const options &opts)
{
    cJSON *request = cJSON_CreateObject();
    cJSON_AddStringToObject(request, "text", opts.text);
    if (opts.editor)
        cJSON_AddStringToObject(request, "editor", opts.editor);
    if (!opts.args.empty()) {
        cJSON *args = cJSON_AddArrayToObject(request, "args");
        for (const char *arg : opts.args)
            cJSON_AddItemToArray(args, cJSON_CreateString(arg));
    }
    if (opts.ext)
        cJSON_AddStringToObject(request, "ext", opts.ext);
    char *printed = cJSON_PrintUnformatted(request);
    cJSON_Delete(request);
    return printed;
}

void show_response(int number, const std::string &body)
{
    printf("zuraze-client: response %d after %.2f s, %zu bytes:\n", number, seconds_since_start(),
           body.size());
    cJSON *response = cJSON_Parse(body.c_str());
    const char *text = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(response, "text"));
    if (!text) {
        printf("  (not a response document) %s\n", body.c_str());
    } else {
        // Each line of the text behind a bar, so that blank lines and the
        // text's own end stay visible.
        std::string line;
        for (const char *c = text;; c++) {
            if (*c == '\n' || *c == '\0') {
                printf("  | %s\n", line.c_str());
                line.clear();
                if (*c == '\0')
                    break;
            } else {
                line += *c;
            }
        }
    }
    cJSON_Delete(response);
    fflush(stdout);
}

pid_t start_host(const std::string &host, int *to_host, int *from_host)
{
    int input[2];
    int output[2];
    if (pipe(input) != 0 || pipe(output) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(input[0], 0);
        dup2(output[1], 1);
        close(input[0]);
        close(input[1]);
        close(output[0]);
        close(output[1]);
        execl(host.c_str(), host.c_str(), "chrome-extension://zuraze-client/",
              static_cast<char *>(nullptr));
        fprintf(stderr, "zuraze-client: cannot start %s: %s\n", host.c_str(), strerror(errno));
        _exit(cannot_start_status);
    }
    close(input[0]);
    close(output[1]);
    *to_host = input[1];
    *from_host = output[0];
    return pid;
}

int wait_for_host(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        printf("zuraze-client: host killed by signal %d after %.2f s\n", WTERMSIG(status),
               seconds_since_start());
        return 1;
    }
    printf("zuraze-client: host exited with status %d after %.2f s\n", WEXITSTATUS(status),
           seconds_since_start());
    return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char **argv)
{
    options opts;
    if (!parse_options(argc, argv, &opts)) {
        fputs(usage, stderr);
        return 2;
    }
    char *request = build_request(opts);
    if (!request) {
        fputs("zuraze-client: cannot build the request\n", stderr);
        return 1;
    }

    int to_host = -1;
    int from_host = -1;
    pid_t pid = start_host(opts.host, &to_host, &from_host);
    if (pid < 0) {
        perror("zuraze-client: cannot start the host");
        free(request);
        return 1;
    }
    uint32_t length = static_cast<uint32_t>(strlen(request));
    printf("zuraze-client: request of %u bytes to %s: %s\n", length, opts.host.c_str(), request);
    fflush(stdout);
    bool sent = write_frame(to_host, std::string(request, length));
    free(request);
    if (!sent)
        fprintf(stderr, "zuraze-client: the host did not take the request\n");

    // Like a browser, keep the host's input open while it runs.
    int number = 0;
    uint32_t size = 0;
    while (read_fully(from_host, &size, sizeof size, interrupted_read::is_retried)) {
        std::string body(size, '\0');
        if (!read_fully(from_host, body.data(), size, interrupted_read::is_retried)) {
            fprintf(stderr, "zuraze-client: a response was cut short\n");
            break;
        }
        show_response(++number, body);
    }
    close(from_host);
    close(to_host);
    return wait_for_host(pid);
}
