// Preloaded into the built host to make one chosen call fail, or do less than
// asked, at a chosen point; the tests in fault_injection_test.cpp drive it.
// Only the process named zuraze-host is affected, so neither a wrapper that
// starts the host (valgrind) nor the editor it starts, nor the host's child
// between fork and exec, is. The environment says what to do:
//
//   ZURAZE_FAULT_CALL   malloc calloc realloc strdup strndup mkstemp mkstemps
//                       open lseek read write close
//   ZURAZE_FAULT_WHERE  which calls count. For the allocations, whose code made
//                       the call: host, cjson or uv. For the descriptor calls,
//                       the descriptor: temp (the one mkstemp or mkstemps gave),
//                       sent (one that open gave for that same file), stdin,
//                       stdout. Unset: every call.
//   ZURAZE_FAULT_AT     the first counted call affected, from 1 (default 1)
//   ZURAZE_FAULT_TIMES  how many counted calls from there on (default 1, 0: all)
//   ZURAZE_FAULT_ACTION fail (default): give the call's error result with
//                       ZURAZE_FAULT_ERRNO (default ENOMEM for the allocations,
//                       EIO for the rest); short: read or write half of what is
//                       asked, at least one byte; shrink: before a read, cut the
//                       file to half its size, as an editor's save may do
//   ZURAZE_FAULT_LOG    a file that gets a line "CALL WHERE" for every call that
//                       could be counted, so that a test can count them first
//
// Allocations are served by glibc's own allocator (__libc_malloc and friends),
// which valgrind replaces, so leaks stay visible under it.

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
}

namespace {

enum class action { fail, make_short, shrink };

struct fault_plan {
    bool active;
    char call[16];
    char where[16];
    long at;
    long times;
    action what;
    int error;
    int log_fd;
    const void *host_base;
};

fault_plan plan{false, "", "", 1, 1, action::fail, 0, -1, nullptr};
long counted;

// What the host's descriptors are, as far as the tests need to tell them apart.
constexpr int max_tracked_fd = 1024;
char fd_role[max_tracked_fd][8];
char temp_path[4096];

void copy_env(const char *name, char *out, size_t size)
{
    const char *value = getenv(name);
    if (!value)
        value = "";
    strncpy(out, value, size - 1);
    out[size - 1] = '\0';
}

long env_number(const char *name, long fallback)
{
    const char *value = getenv(name);
    return value && *value ? strtol(value, nullptr, 10) : fallback;
}

void stop_in_child()
{
    plan.active = false;
}

bool is_allocation(const char *call)
{
    static const char *const names[] = {"malloc", "calloc", "realloc", "strdup", "strndup"};
    for (const char *name : names)
        if (strcmp(call, name) == 0)
            return true;
    return false;
}

__attribute__((constructor)) void read_plan()
{
    if (strcmp(program_invocation_short_name, "zuraze-host") != 0)
        return;
    copy_env("ZURAZE_FAULT_CALL", plan.call, sizeof plan.call);
    copy_env("ZURAZE_FAULT_WHERE", plan.where, sizeof plan.where);
    plan.at = env_number("ZURAZE_FAULT_AT", 1);
    plan.times = env_number("ZURAZE_FAULT_TIMES", 1);
    const char *what = getenv("ZURAZE_FAULT_ACTION");
    if (what && strcmp(what, "short") == 0)
        plan.what = action::make_short;
    else if (what && strcmp(what, "shrink") == 0)
        plan.what = action::shrink;
    plan.error =
        static_cast<int>(env_number("ZURAZE_FAULT_ERRNO", is_allocation(plan.call) ? ENOMEM : EIO));
    if (const char *log = getenv("ZURAZE_FAULT_LOG"))
        plan.log_fd = static_cast<int>(
            syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(getauxval(AT_PHDR)), &info))
        plan.host_base = info.dli_fbase;
    strcpy(fd_role[0], "stdin");
    strcpy(fd_role[1], "stdout");
    pthread_atfork(nullptr, nullptr, stop_in_child);
    plan.active = true;
}

// The object whose code called the allocation function.
const char *caller_object(const void *return_address)
{
    Dl_info info;
    if (!dladdr(return_address, &info))
        return "other";
    if (info.dli_fbase == plan.host_base)
        return "host";
    if (info.dli_fname && strstr(info.dli_fname, "libcjson"))
        return "cjson";
    if (info.dli_fname && strstr(info.dli_fname, "libuv"))
        return "uv";
    return "other";
}

const char *role_of(int fd)
{
    return fd >= 0 && fd < max_tracked_fd ? fd_role[fd] : "";
}

void set_role(int fd, const char *role)
{
    if (fd >= 0 && fd < max_tracked_fd)
        strcpy(fd_role[fd], role);
}

void log_call(const char *call, const char *where)
{
    if (plan.log_fd < 0)
        return;
    char line[64];
    size_t length = strlen(call);
    memcpy(line, call, length);
    line[length++] = ' ';
    size_t where_length = strlen(where);
    memcpy(line + length, where, where_length);
    length += where_length;
    line[length++] = '\n';
    syscall(SYS_write, plan.log_fd, line, length);
}

// Counts the call when it is of the planned kind; true when it is to be
// affected.
bool strikes(const char *call, const char *where)
{
    if (!plan.active || !*where || strcmp(where, "other") == 0)
        return false;
    log_call(call, where);
    if (strcmp(call, plan.call) != 0 || (*plan.where && strcmp(where, plan.where) != 0))
        return false;
    counted++;
    return counted >= plan.at && (plan.times == 0 || counted < plan.at + plan.times);
}

bool allocation_strikes(const char *call, const void *return_address)
{
    return plan.active && strikes(call, caller_object(return_address));
}

template <typename function>
function real(const char *name)
{
    return reinterpret_cast<function>(dlsym(RTLD_NEXT, name));
}

template <typename result>
result fail_with(result value)
{
    errno = plan.error;
    return value;
}

size_t shortened(size_t count)
{
    return count > 1 ? count / 2 : count;
}

void shrink_file()
{
    int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, temp_path, O_RDWR | O_CLOEXEC));
    if (fd < 0)
        return;
    off_t size = static_cast<off_t>(syscall(SYS_lseek, fd, 0, SEEK_END));
    syscall(SYS_ftruncate, fd, size / 2);
    syscall(SYS_close, fd);
}

} // namespace

extern "C" {

void *malloc(size_t size)
{
    if (allocation_strikes("malloc", __builtin_return_address(0)))
        return fail_with<void *>(nullptr);
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    if (allocation_strikes("calloc", __builtin_return_address(0)))
        return fail_with<void *>(nullptr);
    return __libc_calloc(count, size);
}

void *realloc(void *block, size_t size)
{
    if (allocation_strikes("realloc", __builtin_return_address(0)))
        return fail_with<void *>(nullptr);
    return __libc_realloc(block, size);
}

char *strdup(const char *text)
{
    if (allocation_strikes("strdup", __builtin_return_address(0)))
        return fail_with<char *>(nullptr);
    size_t size = strlen(text) + 1;
    char *copy = static_cast<char *>(__libc_malloc(size));
    if (copy)
        memcpy(copy, text, size);
    return copy;
}

char *strndup(const char *text, size_t most)
{
    if (allocation_strikes("strndup", __builtin_return_address(0)))
        return fail_with<char *>(nullptr);
    size_t length = strnlen(text, most);
    char *copy = static_cast<char *>(__libc_malloc(length + 1));
    if (copy) {
        memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

int mkstemp(char *name_template)
{
    if (strikes("mkstemp", "host"))
        return fail_with(-1);
    int fd = real<int (*)(char *)>("mkstemp")(name_template);
    set_role(fd, "temp");
    if (fd >= 0)
        strncpy(temp_path, name_template, sizeof temp_path - 1);
    return fd;
}

int mkstemps(char *name_template, int suffix_length)
{
    if (strikes("mkstemps", "host"))
        return fail_with(-1);
    int fd = real<int (*)(char *, int)>("mkstemps")(name_template, suffix_length);
    set_role(fd, "temp");
    if (fd >= 0)
        strncpy(temp_path, name_template, sizeof temp_path - 1);
    return fd;
}

int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    bool of_temp = *temp_path && strcmp(path, temp_path) == 0;
    if (of_temp && strikes("open", "sent"))
        return fail_with(-1);
    int fd = real<int (*)(const char *, int, ...)>("open")(path, flags, mode);
    if (of_temp)
        set_role(fd, "sent");
    return fd;
}

off_t lseek(int fd, off_t offset, int whence)
{
    if (strikes("lseek", role_of(fd)))
        return fail_with<off_t>(-1);
    return real<off_t (*)(int, off_t, int)>("lseek")(fd, offset, whence);
}

ssize_t read(int fd, void *buffer, size_t count)
{
    if (strikes("read", role_of(fd))) {
        if (plan.what == action::fail)
            return fail_with<ssize_t>(-1);
        if (plan.what == action::make_short)
            count = shortened(count);
        else
            shrink_file();
    }
    return real<ssize_t (*)(int, void *, size_t)>("read")(fd, buffer, count);
}

ssize_t write(int fd, const void *buffer, size_t count)
{
    if (strikes("write", role_of(fd))) {
        if (plan.what == action::fail)
            return fail_with<ssize_t>(-1);
        count = shortened(count);
    }
    return real<ssize_t (*)(int, const void *, size_t)>("write")(fd, buffer, count);
}

int close(int fd)
{
    bool strike = strikes("close", role_of(fd));
    set_role(fd, "");
    int result = real<int (*)(int)>("close")(fd);
    return strike ? fail_with(-1) : result;
}

} // extern "C"
