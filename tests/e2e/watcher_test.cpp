#include "host_fixture.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <thread>

// Watching starts 300 ms after set-up. With directory events, a burst of
// events for the file gives one send 100 ms after its last event; when
// polling, every 100 ms poll that sees a new modification time or size sends,
// and the first poll always does. The editors below wait at least 0.8 s before
// their first save, so both ways of watching have started.

namespace {

using Watcher = host_fixture;

struct watch_case {
    const char *name;
    std::vector<std::string> steps;
    std::vector<std::string> live_by_events; // responses before the final one
    std::vector<std::string> live_by_polling;
    std::string final_text;
    // Written into the file by the test before the editor starts, when not
    // null: a change that the host cannot have watched, however slowly the
    // editor starts.
    const char *before_watching = nullptr;
};

TEST_F(Watcher, EverySaveIsSentOnceItSettles)
{
    const watch_case cases[] = {
        {"one save", {"sleep=0.8", "write=one", "sleep=0.8"}, {"one"}, {"orig", "one"}, "one"},
        {"saves far apart",
         {"sleep=0.8", "write=one", "sleep=0.8", "write=two", "sleep=0.8"},
         {"one", "two"},
         {"orig", "one", "two"},
         "two"},
        {"save by renaming a new file into place",
         {"sleep=0.8", "rename=renamed", "sleep=0.8"},
         {"renamed"},
         {"orig", "renamed"},
         "renamed"},
        {"a change before watching starts", {"sleep=1"}, {}, {"early"}, "early", "early"},
        {"other files in the directory",
         {"sleep=0.8", "other=notes.txt", "other=zuraze_other", "sleep=0.8"},
         {},
         {"orig"},
         "orig"},
        {"a save that keeps the modification time",
         {"sleep=0.8", "write=one", "sleep=0.5", "keep-mtime=two", "sleep=0.8"},
         {"one", "two"},
         {"orig", "one"},
         "two"},
        // The write that follows the truncation in the same tick of the file
        // system's clock comes whole, by a rename, so that no look at the file
        // can fall between its parts.
        {"a save in place whose truncation a poll sees alone",
         {"sleep=0.8", "write=", "sleep=0.5", "keep-mtime=one", "sleep=0.8"},
         {"", "one"},
         {"orig", "", "one"},
         "one"},
    };
    for (const watch_case &c : cases) {
        std::thread change = when_written([&c](const std::string &file) {
            if (!c.before_watching)
                return;
            int fd = open(file.c_str(), O_WRONLY | O_TRUNC);
            size_t length = strlen(c.before_watching);
            EXPECT_EQ(write(fd, c.before_watching, length), static_cast<ssize_t>(length));
            close(fd);
        });
        host_result run = run_host(edit("orig", c.steps));
        change.join();
        ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
        EXPECT_EQ(run.err, "") << c.name;
        std::vector<std::string> texts = run.texts();
        ASSERT_FALSE(texts.empty()) << c.name;
        EXPECT_EQ(texts.back(), c.final_text) << c.name;
        texts.pop_back();
        EXPECT_EQ(texts, polling_build ? c.live_by_polling : c.live_by_events) << c.name;
    }
}

TEST_F(Watcher, ABurstOfWritesGivesOneResponse)
{
    // One process makes the five writes 30 ms apart: a sleep process between
    // two of them could take longer to start than the 100 ms debounce.
    host_result run = run_host(edit("orig", {"sleep=0.8", "burst=0.03:a,b,c,d,e", "sleep=0.8"}));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> texts = run.texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts.back(), "abcde");
    texts.pop_back();
    EXPECT_EQ(texts.back(), "abcde");
    if (!polling_build) {
        EXPECT_EQ(texts.size(), 1u);
    }
}

TEST_F(Watcher, AResponseFollowsItsSaveAfterTheDebounce)
{
    host_result run = run_host(edit("orig", {"sleep=0.8", "mark=save", "write=one", "sleep=1.5"}));
    ASSERT_EQ(run.status, 0) << run.err;
    double saved = mark("save");
    ASSERT_GT(saved, 0);
    auto live = std::find_if(run.frames.begin(), run.frames.end(),
                             [](const host_frame &f) { return f.body == R"({"text":"one"})"; });
    ASSERT_NE(live, run.frames.end());
    double delay = live->at - saved;
    EXPECT_GT(delay, polling_build ? 0.0 : 0.08);
    EXPECT_LT(delay, 1.2);
}

TEST_F(Watcher, AChangeStillSettlingAtExitIsInTheFinalSend)
{
    host_result run = run_host(edit("orig", {"sleep=0.8", "write=late"}));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> texts = run.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "late");
    if (!polling_build) {
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "late"), 1);
    }
}

TEST_F(Watcher, AFileRemovedAndWrittenAgainIsSentAgain)
{
    host_result run =
        run_host(edit("orig", {"sleep=0.8", "delete", "sleep=0.6", "write=back", "sleep=0.8"}));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> texts = run.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "back");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "back"), 2);
    std::string missing =
        polling_build ? "uv_fs_stat failed: no such file or directory\n" : "Failed to open file";
    EXPECT_NE(run.err.find(missing), std::string::npos) << run.err;
}

// The directory is gone when watching starts, so directory events cannot be
// had: the host polls, reporting the missing file until it is back. The test
// moves the directory away as soon as the file is written, rather than the
// editor once it has started, which may be after watching starts.
TEST_F(Watcher, FallsBackToPollingWhenTheDirectoryCannotBeWatched)
{
    std::thread mover = when_written([this](const std::string &) {
        std::string away = tmp + ".away";
        EXPECT_EQ(rename(tmp.c_str(), away.c_str()), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_EQ(rename(away.c_str(), tmp.c_str()), 0);
    });
    host_result run = run_host(edit("orig", {"sleep=2.1", "write=after", "sleep=0.8"}));
    mover.join();
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string fallback =
        "Failed to start fs_event: no such file or directory; falling back to polling\n";
    const std::string stat_failed = "uv_fs_stat failed: no such file or directory\n";
    if (polling_build) {
        EXPECT_EQ(run.err.find("falling back"), std::string::npos) << run.err;
    } else {
        EXPECT_EQ(run.err.rfind(fallback, 0), 0u) << run.err;
    }
    std::string rest = polling_build ? run.err : run.err.substr(fallback.size());
    ASSERT_GE(rest.size(), stat_failed.size());
    for (size_t at = 0; at < rest.size(); at += stat_failed.size())
        EXPECT_EQ(rest.substr(at, stat_failed.size()), stat_failed) << run.err;
    EXPECT_EQ(run.texts(), (std::vector<std::string>{"orig", "after", "after"}));
}

} // namespace
