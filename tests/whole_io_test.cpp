#include "whole_io.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace {

void on_alarm(int) {}

// SIGALRM every millisecond, without SA_RESTART, for as long as it lives: a
// read that waits is interrupted again and again.
struct alarm_storm {
    struct sigaction old_action {};

    alarm_storm()
    {
        struct sigaction action {};
        action.sa_handler = on_alarm;
        sigaction(SIGALRM, &action, &old_action);
        struct itimerval every_ms = {{0, 1000}, {0, 1000}};
        setitimer(ITIMER_REAL, &every_ms, nullptr);
    }

    ~alarm_storm()
    {
        struct itimerval off = {};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &old_action, nullptr);
    }
};

// A thread with SIGALRM blocked, so that a storm falls on the test's own
// thread alone.
template <typename Work>
std::thread without_alarms(Work work)
{
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm_only, nullptr);
    std::thread thread(work);
    pthread_sigmask(SIG_UNBLOCK, &alarm_only, nullptr);
    return thread;
}

// The writer sends its bytes in two halves, each after a pause.
std::thread slow_writer(int fd, const std::string &bytes, int pause_ms)
{
    return without_alarms([fd, bytes, pause_ms] {
        size_t half = bytes.size() / 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        EXPECT_TRUE(write_fully(fd, bytes.data(), half));
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        EXPECT_TRUE(write_fully(fd, bytes.data() + half, bytes.size() - half));
    });
}

TEST(ReadFully, ReadsOnThroughInterruptionsWhenTheCallerRetriesThem)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer = slow_writer(fds[1], "12345678", 50);
    char buffer[8] = {};
    bool ok;
    {
        alarm_storm storm;
        ok = read_fully(fds[0], buffer, sizeof buffer, interrupted_read::is_retried);
    }
    writer.join();
    close(fds[0]);
    close(fds[1]);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::string(buffer, sizeof buffer), "12345678");
}

// The host's request reader: an interruption ends the read as a failure. The
// bytes come long after the first interruption; a reader that retried would
// get them all.
TEST(ReadFully, FailsOnAnInterruptionWhenTheCallerSaysSo)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer = slow_writer(fds[1], "12345678", 500);
    char buffer[8] = {};
    bool ok;
    int error;
    {
        alarm_storm storm;
        ok = read_fully(fds[0], buffer, sizeof buffer, interrupted_read::fails);
        error = errno;
    }
    writer.join();
    close(fds[0]);
    close(fds[1]);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, EINTR);
}

TEST(ReadFully, FailsAtTheEndOfTheInputPartWay)
{
    for (interrupted_read interrupted : {interrupted_read::fails, interrupted_read::is_retried}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_TRUE(write_fully(fds[1], "abc", 3));
        close(fds[1]);
        char buffer[8] = {};
        EXPECT_FALSE(read_fully(fds[0], buffer, sizeof buffer, interrupted));
        EXPECT_EQ(std::string(buffer, 3), "abc");
        close(fds[0]);
    }
}

// The host's frames: a write that waits for a reader carries on through
// interruptions, and gives up on the first one after its give-up flag is set
// (as a stop signal's handler sets it).
volatile sig_atomic_t give_up_flag;
void on_give_up_alarm(int)
{
    give_up_flag = 1;
}

TEST(WriteFully, CarriesOnThroughInterruptionsUntilItsGiveUpFlagIsSet)
{
    for (bool set_flag : {false, true}) {
        give_up_flag = 0;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::string bytes(1 << 20, 'w'); // more than a pipe holds
        std::string got;
        std::thread reader = without_alarms([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            char buffer[65536];
            for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
                got.append(buffer, static_cast<size_t>(n));
        });
        bool ok;
        int error;
        {
            alarm_storm storm;
            if (set_flag) {
                struct sigaction action {};
                action.sa_handler = on_give_up_alarm;
                sigaction(SIGALRM, &action, nullptr);
            }
            ok = write_fully(fds[1], bytes.data(), bytes.size(), &give_up_flag);
            error = errno;
        }
        close(fds[1]);
        reader.join();
        close(fds[0]);
        if (set_flag) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(error, EINTR);
            EXPECT_LT(got.size(), bytes.size());
        } else {
            EXPECT_TRUE(ok);
            EXPECT_EQ(got, bytes);
        }
    }
}

} // namespace
