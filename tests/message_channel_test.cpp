#include "message_channel.hpp"

#include "std_streams.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace {

std::string le32(uint32_t value)
{
    return std::string(reinterpret_cast<const char *>(&value), 4);
}

struct read_case {
    const char *name;
    std::string input;
    bool keep_open;   // the writer stays, so reading past the frame would block
    const char *body; // null: the read fails
    const char *message;
    std::string unread;
};

TEST(ReadRequestMessage, ReadsExactlyOneFrame)
{
    const read_case cases[] = {
        {"empty input", "", false, nullptr, "Failed to read request size\n", ""},
        {"two length bytes", std::string("\x05\x00", 2), false, nullptr,
         "Failed to read request size\n", ""},
        {"body of five", le32(5) + "hello", true, "hello", "", ""},
        {"little-endian length", std::string("\x05\x00\x00\x00", 4) + "12345", true, "12345", "",
         ""},
        {"empty body", le32(0), true, "", "", ""},
        {"bytes after the frame stay unread", le32(2) + "{}" + le32(9) + "more", true, "{}", "",
         le32(9) + "more"},
        {"short body", le32(5) + "abc", false, nullptr, "Failed to read request body\n", ""},
        {"multi-byte text counts bytes", le32(2) + "\xc3\xa9", true, "\xc3\xa9", "", ""},
    };
    for (const read_case &c : cases) {
        fed_input input(c.input, !c.keep_open);
        captured_output err(2);
        uint32_t length = 0xffffffff;
        char *body = read_request_message(&length);
        EXPECT_EQ(err.take(), c.message) << c.name;
        if (c.body) {
            ASSERT_NE(body, nullptr) << c.name;
            EXPECT_EQ(length, strlen(c.body)) << c.name;
            EXPECT_EQ(std::string(body, length + 1), std::string(c.body) + '\0') << c.name;
        } else {
            EXPECT_EQ(body, nullptr) << c.name;
        }
        EXPECT_EQ(input.unread(), c.unread) << c.name;
        free(body);
    }
}

TEST(ReadRequestMessage, AssemblesBytesThatArriveOneAtATime)
{
    fed_input input("", false);
    std::string bytes = le32(3) + "{} ";
    std::thread writer([&] {
        for (char byte : bytes) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (write(input.writer(), &byte, 1) != 1)
                return;
        }
    });
    uint32_t length = 0;
    char *body = read_request_message(&length);
    writer.join();
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(length, 3u);
    EXPECT_STREQ(body, "{} ");
    free(body);
}

TEST(WriteResponseMessage, WritesTheLengthThenTheBody)
{
    for (const std::string body : {"", "{\"text\":\"abc\"}", "{\"text\":\"\xc3\xa9\"}"}) {
        captured_output out(1);
        EXPECT_TRUE(write_response_message(body.c_str()));
        EXPECT_EQ(out.take(), le32(static_cast<uint32_t>(body.size())) + body);
    }
}

TEST(WriteResponseMessage, WarnsOfAResponseTheBrowsersWillRefuse)
{
    for (size_t size : {size_t{1048576}, size_t{1048577}}) {
        std::string body(size, 'x');
        captured_output out(1);
        captured_output err(2);
        EXPECT_TRUE(write_response_message(body.c_str()));
        std::string message = err.take();
        EXPECT_TRUE(out.take() == le32(static_cast<uint32_t>(size)) + body);
        if (size > 1048576) {
            EXPECT_EQ(message, "Response of 1048577 bytes exceeds the browsers' limit of 1048576 "
                               "bytes; the browser will close the connection\n");
        } else {
            EXPECT_EQ(message, "");
        }
    }
}

TEST(WriteResponseMessage, ReportsAFailedWrite)
{
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    int saved = dup(1);
    dup2(full, 1);
    close(full);
    captured_output err(2);
    bool ok = write_response_message("{}");
    std::string message = err.take();
    dup2(saved, 1);
    close(saved);
    EXPECT_FALSE(ok);
    EXPECT_EQ(message, "Failed to write response size: No space left on device\n");
}

void on_alarm(int) {}

// A reader that takes its time, while SIGALRM keeps interrupting the writer:
// writes into the full pipe come back short or with EINTR.
TEST(WriteResponseMessage, ContinuesShortAndInterruptedWrites)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string body(3 << 20, 'x');
    body.front() = '{';
    body.back() = '}';

    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm_only, nullptr);
    std::string received;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<size_t>(n));
            if (received.size() % (1 << 18) < sizeof buffer)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    pthread_sigmask(SIG_UNBLOCK, &alarm_only, nullptr);

    struct sigaction action {};
    action.sa_handler = on_alarm; // no SA_RESTART
    struct sigaction old_action;
    sigaction(SIGALRM, &action, &old_action);
    struct itimerval every_ms = {{0, 1000}, {0, 1000}};
    setitimer(ITIMER_REAL, &every_ms, nullptr);

    int saved = dup(1);
    dup2(fds[1], 1);
    close(fds[1]);
    bool ok = write_response_message(body.c_str());
    dup2(saved, 1);
    close(saved);

    struct itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old_action, nullptr);
    reader.join();
    close(fds[0]);

    EXPECT_TRUE(ok);
    ASSERT_EQ(received.size(), 4 + body.size());
    EXPECT_TRUE(received == le32(static_cast<uint32_t>(body.size())) + body);
}

} // namespace
