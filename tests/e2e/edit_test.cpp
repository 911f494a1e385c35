#include "host_fixture.hpp"

#include <sys/stat.h>

namespace {

using Edit = host_fixture;

TEST_F(Edit, AnEditorThatExitsAtOnceGetsOneFinalSend)
{
    const std::vector<std::string> endings[] = {{}, {"exit=3"}, {"kill"}};
    for (const std::vector<std::string> &steps : endings) {
        host_result run = run_host(edit("as written", steps));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.texts(), std::vector<std::string>{"as written"});
        EXPECT_EQ(run.stray_output, "");
        EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
    }
}

TEST_F(Edit, TheTextComesBackByteForByte)
{
    const std::string texts[] = {
        "",
        "plain",
        "Grüße, 日本語, emoji 🙂, combining é",
        "quotes \" and \\ backslashes \\\" and /slashes/",
        "controls \x01\x02\x1f\x7f and \t tabs \r\n line ends\n\n",
        std::string(300000, 'y') + "\n",
    };
    for (const std::string &text : texts) {
        host_result run = run_host(edit(text, {}));
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_EQ(run.frames.size(), 1u);
        EXPECT_TRUE(run.texts()[0] == text) << text.substr(0, 60);
        EXPECT_EQ(run.frames[0].body, edit_request(text));
    }
}

TEST_F(Edit, ArgumentsExtensionAndEnvironmentReachTheEditorUnchanged)
{
    const std::vector<std::string> steps = {
        "record", "a b", "", "'quoted'", "semi;colon", "$(touch injected)", "*", "--"};
    host_result run = run_host(edit("text", steps, "md"));
    ASSERT_EQ(run.status, 0) << run.err;

    std::vector<std::string> args = recorded_args();
    ASSERT_EQ(args.size(), steps.size() + 2);
    EXPECT_EQ(args.front(), editor);
    EXPECT_EQ(std::vector<std::string>(args.begin() + 1, args.end() - 1), steps);
    const std::string &file = args.back();
    EXPECT_EQ(file.rfind(tmp + "/zuraze_", 0), 0u) << file;
    EXPECT_EQ(file.substr(file.size() - 3), ".md");
    char *cwd = getcwd(nullptr, 0);
    EXPECT_EQ(read_file(log + "/cwd"), std::string(cwd) + "\n");
    free(cwd);
    EXPECT_FALSE(path_exists("injected"));
    EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
}

TEST_F(Edit, AVimFamilyEditorIsToldToStayInTheForeground)
{
    install_editor("gvim");
    install_editor("gedit");
    host_options options;
    options.env = env();
    options.input = frame(R"({"text":"t","args":["record","-p"]})");
    host_result run = run_host(options);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> args = recorded_args();
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[0], bin + "/gvim");
    EXPECT_EQ(args[1], "record");
    EXPECT_EQ(args[2], "-p");
    EXPECT_EQ(args[3], "-f");
}

TEST_F(Edit, TheFirstDefaultEditorOnPathIsStarted)
{
    install_editor("leafpad");
    install_editor("kate");
    install_editor("gedit");
    host_options options;
    options.env = env();
    options.input = frame(R"({"text":"t","editor":"nano","args":["record"]})");
    host_result run = run_host(options);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(recorded_args().empty());
    EXPECT_EQ(recorded_args()[0], bin + "/gedit");
}

TEST_F(Edit, AnEditorThatRemovesTheFileEndsWithStatusOne)
{
    host_result run = run_host(edit("text", {"delete"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Temporary file was not found after editor exited\n"
                       "unlink: No such file or directory\n");
    EXPECT_EQ(run.frames.size(), 0u);
}

// The editor outlives the first poll, by a margin that a busy machine keeps.
TEST_F(Edit, WhatTheEditorPrintsNeverReachesTheHostsOutput)
{
    host_result run = run_host(edit("text", {"say=EDITOR-NOISE", "sleep=0.8", "say=MORE-NOISE"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.stray_output, "");
    EXPECT_EQ(run.texts(), std::vector<std::string>(polling_build ? 2 : 1, "text"));
    EXPECT_EQ(run.err.find("NOISE"), std::string::npos) << run.err;
}

// A child the editor leaves behind must not hold the browser's descriptors:
// the browser watches one of them to notice that the host has gone.
TEST_F(Edit, TheEditorInheritsNoneOfTheBrowsersDescriptors)
{
    host_options options = edit("text", {"background=8"});
    options.descriptor_3 = true;
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.texts(), std::vector<std::string>{"text"});
    EXPECT_GT(run.descriptor_3_closed_at, 0);
    EXPECT_LT(run.descriptor_3_closed_at - run.exited_at, 4.0);
}

TEST_F(Edit, TextThatCannotBeSentAtTheEndIsKept)
{
    host_options options = edit("precious words", {});
    options.stdout_gone = true;
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> left = left_in_tmp();
    ASSERT_EQ(left.size(), 1u);
    std::string kept = tmp + "/" + left[0];
    EXPECT_EQ(read_file(kept), "precious words");
    EXPECT_EQ(run.err, "Failed to write response size: Broken pipe\n"
                       "The edited text could not be sent and is kept in " +
                           kept + "\n");
}

// The editor's exit interrupts the host while a large frame waits for a slow
// reader; the frame must still go out whole.
TEST_F(Edit, ALargeFrameInterruptedBySignalsStaysWhole)
{
    std::string text(3 << 20, 'z');
    host_options options = edit(text, {"sleep=0.6", "append=!", "sleep=0.6"});
    options.read_delay = 3;
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.stray_output.size(), 0u);
    std::vector<std::string> texts = run.texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_TRUE(texts.back() == text + "!");
}

} // namespace
