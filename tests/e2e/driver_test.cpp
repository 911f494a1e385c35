#include "host_fixture.hpp"

#include <sys/stat.h>

namespace {

using Driver = host_fixture;

TEST_F(Driver, HelpIsPrintedWithoutReadingTheRequest)
{
    const std::vector<std::string> argvs[] = {
        {"-h"}, {"--help"}, {"chrome-extension://abc/", "-h"}, {"-x", "--help", "--"}};
    for (const std::vector<std::string> &args : argvs) {
        host_options options = edit("text", {});
        options.args = args;
        host_result run = run_host(options);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.stray_output, help_line());
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.unread_input, options.input);
    }
    EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
}

TEST_F(Driver, ADoubleDashEndsTheScan)
{
    host_options options = edit("text", {});
    options.args = {"--", "-h", "--help"};
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.texts(), std::vector<std::string>{"text"});
}

TEST_F(Driver, TheBrowsersArgumentsAreIgnored)
{
    const std::vector<std::string> argvs[] = {
        {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
        {"/usr/lib/mozilla/native-messaging-hosts/zuraze.json", "zuraze@example"},
        {"--parent-window=0", "-H", "-hx", "--helpme", "-"}};
    for (const std::vector<std::string> &args : argvs) {
        host_options options = edit("text", {});
        options.args = args;
        host_result run = run_host(options);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.texts(), std::vector<std::string>{"text"});
    }
}

struct ending_case {
    const char *name;
    std::string input;
    const char *default_editor; // put on PATH when not null
    std::string err;
};

// Every ending before the editor runs: its message, status 1, nothing on
// standard output and nothing left in the temporary directory.
TEST_F(Driver, EveryFailedStageEndsWithItsMessage)
{
    std::string two_bytes("\x05\x00", 2);
    std::string short_body = frame("hello").substr(0, 7);
    const ending_case cases[] = {
        {"empty input", "", nullptr, "Failed to read request size\n"},
        {"two length bytes", two_bytes, nullptr, "Failed to read request size\n"},
        {"short body", short_body, nullptr, "Failed to read request body\n"},
        {"not JSON", frame("hello"), nullptr, "Failed parsing browser request: hello\n"},
        {"empty body", frame(""), nullptr, "Failed parsing browser request: \n"},
        {"array, no editor", frame("[]"), nullptr, "Editor not found\n"},
        {"array", frame("[]"), "gedit", "Couldn't get editor arguments\n"},
        {"string", frame("\"text\""), "gedit", "Couldn't get editor arguments\n"},
        {"missing editor", frame(R"({"text":"a","editor":"nano"})"), nullptr, "Editor not found\n"},
        {"editor before text", frame(R"({"editor":"nano"})"), nullptr, "Editor not found\n"},
        {"no text", frame(R"({})"), "gedit", "Failed to read 'text' value\n"},
        {"text not a string", frame(R"({"text":7})"), "gedit", "Failed to read 'text' value\n"},
        {"Text", frame(R"({"Text":"a"})"), "gedit", "Failed to read 'text' value\n"},
        {"absent absolute editor", frame(R"({"text":"a","editor":"/no/such/editor"})"), nullptr,
         "Failed to spawn editor process: no such file or directory\n"},
    };
    for (const ending_case &c : cases) {
        scratch_dir world;
        std::string world_bin = world.make_dir("bin");
        std::string world_tmp = world.make_dir("tmp");
        if (c.default_editor)
            world.write_file(std::string("bin/") + c.default_editor, "#!/bin/sh\n", 0755);
        host_options options;
        options.env = {"PATH=" + world_bin, "TMPDIR=" + world_tmp};
        options.input = c.input;
        options.close_input = true;
        host_result run = run_host(options);
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.err, c.err) << c.name;
        EXPECT_EQ(run.frames.size(), 0u) << c.name;
        EXPECT_EQ(run.stray_output, "") << c.name;
        EXPECT_EQ(list_dir(world_tmp), std::vector<std::string>()) << c.name;
    }
}

TEST_F(Driver, AnEditorThatCannotBeExecutedIsReported)
{
    dir.write_file("bin/gedit", "#!/bin/sh\n", 0644);
    host_options options;
    options.env = env();
    options.input = frame(R"({"text":"a"})");
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Failed to spawn editor process: permission denied\n");
    EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
}

// The directory goes only once the host waits for its request, so that a
// wrapper (valgrind) that needs TMPDIR to start has started.
TEST_F(Driver, ATemporaryDirectoryThatIsMissingIsReported)
{
    const std::pair<const char *, const char *> cases[] = {
        {"", "mkstemp: Failed to create temporary file: No such file or directory\n"},
        {"txt", "mkstemps: Failed to create temporary file: No such file or directory\n"},
    };
    for (const auto &[ext, message] : cases) {
        std::string missing = dir.make_dir("missing");
        host_options options = edit("a", {}, ext);
        options.env = {"PATH=" + bin, "TMPDIR=" + missing};
        options.before_input = [&] { rmdir(missing.c_str()); };
        host_result run = run_host(options);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, std::string(message) + "Failed to open temporary file\n");
        EXPECT_FALSE(path_exists(missing));
    }
}

TEST_F(Driver, ATextThatCannotBeWrittenIsRemoved)
{
    host_options options = edit("text", {});
    options.file_size_limit = 0;
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Temporary file is not writable: File too large\n");
    EXPECT_EQ(run.frames.size(), 0u);
    EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
}

} // namespace
