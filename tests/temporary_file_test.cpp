#include "temporary_file.hpp"

#include "host_state.hpp"
#include "scoped_env.hpp"
#include "scratch_dir.hpp"
#include "std_streams.hpp"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One creation against a fresh host_state and a fresh vector, cleaned up
// afterwards the way the host's teardown does it.
struct creation {
    bool ok = false;
    std::string err;
    std::string temp_dir, temp_path, temp_name;
    bool path_in_argv = false;
    std::string content;
    mode_t mode = 0;
};

creation create(const std::string &text, const char *ext)
{
    host_state = host_record{};
    editor_argv argv{static_cast<char **>(calloc(3, sizeof(char *))), 3};
    argv.slots[0] = strdup("/usr/bin/gedit");

    creation result;
    captured_output err(2);
    result.ok = create_temporary_file(text.data(), static_cast<uint32_t>(text.size()), ext,
                                      ext ? static_cast<uint32_t>(strlen(ext)) : 0, &argv);
    result.err = err.take();
    if (host_state.temp_dir)
        result.temp_dir = host_state.temp_dir;
    if (host_state.temp_name)
        result.temp_name = host_state.temp_name;
    if (host_state.temp_path) {
        result.temp_path = host_state.temp_path;
        result.path_in_argv = argv.slots[1] == host_state.temp_path;
        result.content = read_file(result.temp_path);
        struct stat st;
        if (lstat(host_state.temp_path, &st) == 0)
            result.mode = st.st_mode;
        unlink(host_state.temp_path);
    }
    free_temporary_file_names(&argv);
    free_editor_argv(&argv);
    host_state = host_record{};
    return result;
}

TEST(CreateTemporaryFile, UsesTmpdirWithoutOneTrailingSlash)
{
    scratch_dir dir;
    struct dir_case {
        bool set;
        std::string tmpdir;
        std::string temp_dir;
    };
    const dir_case cases[] = {
        {false, "", "/tmp"},
        {true, "", "/tmp"},
        {true, dir.path(), dir.path()},
        {true, dir.path() + "/", dir.path()},
        {true, dir.path() + "//", dir.path() + "/"},
    };
    for (const dir_case &c : cases) {
        scoped_env tmpdir("TMPDIR", c.set ? c.tmpdir.c_str() : nullptr);
        creation made = create("text", nullptr);
        std::string shown = c.set ? "'" + c.tmpdir + "'" : "(unset)";
        ASSERT_TRUE(made.ok) << shown << ": " << made.err;
        EXPECT_EQ(made.temp_dir, c.temp_dir) << shown;
        EXPECT_EQ(made.temp_path, c.temp_dir + "/" + made.temp_name) << shown;
        EXPECT_TRUE(std::regex_match(made.temp_name, std::regex("zuraze_[A-Za-z0-9]{8}")))
            << made.temp_name;
    }
}

TEST(CreateTemporaryFile, RootAsTmpdirGivesAnEmptyDirectory)
{
    scoped_env tmpdir("TMPDIR", "/");
    creation made = create("", nullptr);
    ASSERT_TRUE(made.ok) << made.err;
    EXPECT_EQ(made.temp_dir, "");
    EXPECT_EQ(made.temp_path, "/" + made.temp_name);
}

TEST(CreateTemporaryFile, WritesTheTextByteForByteIntoAPrivateFile)
{
    scratch_dir dir;
    scoped_env tmpdir("TMPDIR", dir.path());
    const std::string texts[] = {"", "one line", "line\r\nends\n\nGrüße 日本 🙂\n",
                                 "\t\"\\\x01"};
    for (const std::string &text : texts) {
        creation made = create(text, nullptr);
        ASSERT_TRUE(made.ok) << made.err;
        EXPECT_EQ(made.err, "");
        EXPECT_EQ(made.content, text);
        EXPECT_TRUE(S_ISREG(made.mode));
        EXPECT_EQ(made.mode & 07777, 0600u);
        EXPECT_TRUE(made.path_in_argv);
    }
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>());
}

TEST(CreateTemporaryFile, AnExtensionFollowsADot)
{
    scratch_dir dir;
    scoped_env tmpdir("TMPDIR", dir.path());
    struct ext_case {
        const char *ext;
        const char *pattern;
    };
    const ext_case cases[] = {
        {"md", R"(zuraze_[A-Za-z0-9]{8}\.md)"},   {"tar.gz", R"(zuraze_[A-Za-z0-9]{8}\.tar\.gz)"},
        {"..", R"(zuraze_[A-Za-z0-9]{8}\.\.\.)"}, {"", R"(zuraze_[A-Za-z0-9]{8})"},
        {nullptr, R"(zuraze_[A-Za-z0-9]{8})"},
    };
    for (const ext_case &c : cases) {
        creation made = create("x", c.ext);
        ASSERT_TRUE(made.ok) << made.err;
        EXPECT_TRUE(std::regex_match(made.temp_name, std::regex(c.pattern))) << made.temp_name;
        EXPECT_EQ(made.content, "x");
    }
}

TEST(CreateTemporaryFile, ReportsADirectoryWhereNoFileCanBeMade)
{
    scratch_dir dir;
    std::string missing = dir.path() + "/missing";
    scoped_env tmpdir("TMPDIR", missing);
    struct failure_case {
        const char *ext;
        const char *message;
    };
    const failure_case cases[] = {
        {nullptr, "mkstemp: Failed to create temporary file: No such file or directory\n"},
        {"txt", "mkstemps: Failed to create temporary file: No such file or directory\n"},
    };
    for (const failure_case &c : cases) {
        creation made = create("x", c.ext);
        EXPECT_FALSE(made.ok);
        EXPECT_EQ(made.err, std::string(c.message) + "Failed to open temporary file\n");
        EXPECT_EQ(made.temp_dir, missing);
        EXPECT_EQ(made.temp_path, "");
    }
}

TEST(CreateTemporaryFile, AnExtensionWithASlashNeverLeavesTheDirectory)
{
    scratch_dir dir;
    std::string tmp = dir.make_dir("tmp");
    dir.make_dir("tmp/sub");
    scoped_env tmpdir("TMPDIR", tmp);
    for (const char *ext : {"/../../escaped", "/sub/x", "a/b"}) {
        creation made = create("x", ext);
        EXPECT_FALSE(made.ok) << ext;
        EXPECT_EQ(made.err, "mkstemps: Failed to create temporary file: No such file or "
                            "directory\nFailed to open temporary file\n")
            << ext;
    }
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"tmp"});
    EXPECT_EQ(list_dir(tmp), std::vector<std::string>{"sub"});
}

// With a limit of 2 bytes the first write is short; it is continued, so the
// message gives the real cause rather than a stale one.
TEST(CreateTemporaryFile, AFailedWriteKeepsThePathForRemoval)
{
    scratch_dir dir;
    scoped_env tmpdir("TMPDIR", dir.path());
    for (rlim_t limit : {rlim_t{2}, rlim_t{0}}) {
        struct rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = {limit, old.rlim_max};
        void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        creation made = create("text", nullptr);
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, old_handler);

        EXPECT_FALSE(made.ok) << limit;
        EXPECT_EQ(made.err, "Temporary file is not writable: File too large\n") << limit;
        EXPECT_NE(made.temp_path, "") << limit;
        EXPECT_TRUE(made.path_in_argv) << limit;
    }
}

// The teardown's last word on the file: removed, or kept with one line that
// names it.
TEST(RemoveOrKeepTemporaryFile, RemovesTheFileOrKeepsItSayingWhy)
{
    scratch_dir dir;
    struct end_case {
        keep_reason reason;
        bool created; // temp_path is set
        bool exists;
        bool left;       // the file is there afterwards
        std::string err; // {path} stands for the file's path
    };
    const end_case cases[] = {
        {keep_reason::none, true, true, false, ""},
        {keep_reason::none, true, false, false, "unlink: No such file or directory\n"},
        {keep_reason::none, false, true, true, ""},
        {keep_reason::text_not_sent, true, true, true,
         "The edited text could not be sent and is kept in {path}\n"},
        {keep_reason::text_not_sent, false, true, true, ""},
    };
    for (const end_case &c : cases) {
        std::string path = dir.write_file("zuraze_file", "text", 0600);
        if (!c.exists)
            unlink(path.c_str());
        host_state = host_record{};
        if (c.created)
            host_state.temp_path = strdup(path.c_str());
        captured_output err(2);
        remove_or_keep_temporary_file(c.reason);
        std::string message = err.take();

        std::string expected = c.err;
        size_t at = expected.find("{path}");
        if (at != std::string::npos)
            expected.replace(at, sizeof "{path}" - 1, path);
        std::string shown = std::to_string(static_cast<int>(c.reason)) +
                            (c.created ? " created" : "") + (c.exists ? " exists" : "");
        EXPECT_EQ(message, expected) << shown;
        EXPECT_EQ(access(path.c_str(), F_OK) == 0, c.left) << shown;
        free(host_state.temp_path);
        host_state = host_record{};
        unlink(path.c_str());
    }
}

} // namespace
