#include "file_response_sender.hpp"

#include "scratch_dir.hpp"
#include "std_streams.hpp"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct sent {
    bool ok;
    std::string out;
    std::string err;
    send_outcome outcome;
};

sent send(const std::string &path)
{
    captured_output out(1);
    captured_output err(2);
    send_outcome outcome = send_file_response(path.c_str());
    std::string err_text = err.take();
    return {outcome.sent, out.take(), err_text, outcome};
}

TEST(SendFileResponse, SendsTheWholeFileAsOneUnformattedDocument)
{
    struct content_case {
        std::string content;
        std::string body;
    };
    const content_case cases[] = {
        {"", R"({"text":""})"},
        {"abc", R"({"text":"abc"})"},
        {"a\"b\\c\nd\te\x01/", R"({"text":"a\"b\\c\nd\te\u0001/"})"},
        {"Grüße – 日本語 🙂", R"({"text":"Grüße – 日本語 🙂"})"},
        {std::string("before\0after", 12), R"({"text":"before"})"},
        {std::string(200000, 'x'), R"({"text":")" + std::string(200000, 'x') + "\"}"},
    };
    scratch_dir dir;
    for (const content_case &c : cases) {
        std::string path = dir.write_file("file", c.content);
        sent result = send(path);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, frame(c.body)) << c.body.substr(0, 40);
    }
    EXPECT_EQ(frame(R"({"text":"abc"})").size(), 4u + 14u);
}

// The frame is as it always was; the outcome tells the caller what the page
// will not get as it is.
TEST(SendFileResponse, TellsWhetherTheContentWasCutAtANulOrIsNotUtf8)
{
    struct flag_case {
        std::string content;
        bool cut_at_nul;
        bool not_utf8;
        std::string body;
    };
    const flag_case cases[] = {
        {"Grüße", false, false, R"({"text":"Grüße"})"},
        {std::string("a\0b", 3), true, false, R"({"text":"a"})"},
        {"caf\xE9", false, true, "{\"text\":\"caf\xE9\"}"},
        {std::string("caf\xE9\0rest", 9), true, true, "{\"text\":\"caf\xE9\"}"},
        {std::string("ok\0\xE9", 4), true, false, R"({"text":"ok"})"},
    };
    scratch_dir dir;
    for (const flag_case &c : cases) {
        std::string path = dir.write_file("file", c.content);
        sent result = send(path);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.outcome.cut_at_nul, c.cut_at_nul) << c.body;
        EXPECT_EQ(result.outcome.not_utf8, c.not_utf8) << c.body;
        EXPECT_EQ(result.out, frame(c.body));
    }
}

TEST(SendFileResponse, SendsAnUnchangedFileAgainOnEveryCall)
{
    scratch_dir dir;
    std::string path = dir.write_file("file", "same");
    sent first = send(path);
    sent second = send(path);
    EXPECT_EQ(first.out, frame(R"({"text":"same"})"));
    EXPECT_EQ(second.out, first.out);
}

TEST(SendFileResponse, AMissingFileSendsNothing)
{
    scratch_dir dir;
    std::string path = dir.path() + "/gone";
    sent result = send(path);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "send_file_response: Failed to open file " + path + ": No such file or directory\n");
}

TEST(SendFileResponse, AFileThatCannotBeMeasuredSendsNothing)
{
    scratch_dir dir;
    std::string path = dir.path() + "/fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    int writer = open(path.c_str(), O_RDWR); // so that opening it to read does not block
    sent result = send(path);
    close(writer);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "lseek: Illegal seek\n");
}

TEST(SendFileResponse, AFailedWriteIsReported)
{
    scratch_dir dir;
    std::string path = dir.write_file("file", "abc");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    int saved = dup(1);
    dup2(fds[1], 1);
    close(fds[1]);
    void (*old)(int) = signal(SIGPIPE, SIG_IGN);
    captured_output err(2);
    bool ok = send_file_response(path.c_str()).sent;
    std::string message = err.take();
    signal(SIGPIPE, old);
    dup2(saved, 1);
    close(saved);
    EXPECT_FALSE(ok);
    EXPECT_EQ(message, "Failed to write response size: Broken pipe\n");
}

} // namespace
