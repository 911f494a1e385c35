#include "host_fixture.hpp"

#include <regex>

namespace {

using EarlyExit = host_fixture;

const std::string notice_tail = " ms after it started without changing the file; it may have "
                                "handed the file to a window that was already open "
                                "(see zuraze-host(1))\n";

// An editor that hands the file to a window already open exits at once and
// leaves the file as it was: the host says so, and the edit ends as any other.
TEST_F(EarlyExit, AnEditorThatLeavesAtOnceWithoutChangingTheFileIsNamed)
{
    const std::vector<std::string> endings[] = {{}, {"exit=3"}, {"kill"}, {"sleep=0.2"}};
    for (const std::vector<std::string> &steps : endings) {
        std::string shown = steps.empty() ? "no steps" : steps[0];
        host_result run = run_host(edit("as written\n", steps, "txt"));
        EXPECT_EQ(run.status, 0) << shown << ": " << run.err;
        EXPECT_EQ(run.err, "") << shown;
        EXPECT_EQ(run.texts(), std::vector<std::string>{"as written\n"}) << shown;
        std::smatch ms;
        const std::string &notice = run.early_exit_notice;
        ASSERT_TRUE(
            std::regex_match(notice, ms, std::regex("The editor (.*) exited ([0-9]+)( ms[^]*)")))
            << shown << ": " << notice;
        EXPECT_EQ(ms.str(1), editor) << shown;
        EXPECT_LT(std::stol(ms.str(2)), 1000) << shown;
        EXPECT_EQ(ms.str(3), notice_tail) << shown;
        EXPECT_EQ(left_in_tmp(), std::vector<std::string>()) << shown;
    }
}

// The editor's path is named as it was found on PATH.
TEST_F(EarlyExit, TheNoticeNamesTheEditorsPath)
{
    std::string path = install_editor("some-editor");
    host_options options;
    options.env = env();
    options.input = frame(edit_request("t", "some-editor"));
    host_result run = run_host(options);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.early_exit_notice.rfind("The editor " + path + " exited ", 0), 0u)
        << run.early_exit_notice;
}

// An editor that stays a second or more, or changes the file in any way,
// even to the same text, was used: no notice.
TEST_F(EarlyExit, AnEditorThatStaysOrChangesTheFileIsNotNamed)
{
    struct no_notice_case {
        std::vector<std::string> steps;
        std::vector<std::string> texts;
    };
    const no_notice_case cases[] = {
        {{"sleep=1.3"}, {"as written"}},
        {{"write=changed"}, {"changed"}},
        {{"append=!"}, {"as written!"}},
        {{"write="}, {""}},
        // The same bytes in a new file, moved over the old one.
        {{"rename=as written"}, {"as written"}},
        // Other bytes of the same length, with the modification time kept.
        {{"same-tick=AS WRITTEN"}, {"AS WRITTEN"}},
        {{"keep-mtime=AS WRITTEN"}, {"AS WRITTEN"}},
        // A change and its undoing.
        {{"write=other", "sleep=0.5", "write=as written"}, {"other", "as written"}},
    };
    for (const no_notice_case &c : cases) {
        host_result run = run_host(edit("as written", c.steps));
        EXPECT_EQ(run.status, 0) << c.steps[0] << ": " << run.err;
        EXPECT_EQ(run.err, "") << c.steps[0];
        EXPECT_EQ(run.early_exit_notice, "") << c.steps[0];
        EXPECT_EQ(run.texts().back(), c.texts.back()) << c.steps[0];
    }
}

// An editor that removed the file has nothing to be unchanged.
TEST_F(EarlyExit, AnEditorThatRemovesTheFileIsNotNamed)
{
    host_result run = run_host(edit("text", {"delete"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.early_exit_notice, "");
    EXPECT_EQ(run.err, "Temporary file was not found after editor exited\n"
                       "unlink: No such file or directory\n");
}

} // namespace
