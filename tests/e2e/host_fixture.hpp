#pragma once

#include "host_runner.hpp"
#include "scratch_dir.hpp"
#include "std_streams.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A fresh world for one run of the host: bin/ is its whole PATH, tmp/ its
// TMPDIR, and log/ where the scripted editor records what it saw. The
// scripted editor finds its writer (tests/editors/writer.cpp) through the
// environment, which the host passes on.
class host_fixture : public ::testing::Test {
  protected:
    scratch_dir dir;
    std::string bin = dir.make_dir("bin");
    std::string tmp = dir.make_dir("tmp");
    std::string log = dir.make_dir("log");
    const std::string editor = ZURAZE_TEST_EDITORS_DIR "/scripted-editor";

    std::vector<std::string> env() const
    {
        return {"PATH=" + bin, "TMPDIR=" + tmp, "ZURAZE_TEST_DIR=" + log, "HOME=" + dir.path(),
                "ZURAZE_TEST_WRITER=" ZURAZE_TEST_WRITER};
    }

    // Puts the scripted editor on PATH under name.
    std::string install_editor(const std::string &name) const
    {
        std::string path = bin + "/" + name;
        EXPECT_EQ(symlink(editor.c_str(), path.c_str()), 0);
        return path;
    }

    host_options edit(const std::string &text, const std::vector<std::string> &steps,
                      const std::string &ext = "") const
    {
        host_options options;
        options.env = env();
        options.input = frame(edit_request(text, editor, steps, ext));
        return options;
    }

    // What the scripted editor's "record" step saw: its arguments.
    std::vector<std::string> recorded_args() const
    {
        std::string bytes = read_file(log + "/args");
        std::vector<std::string> args;
        size_t start = 0;
        for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
            args.push_back(bytes.substr(start, end - start));
        return args;
    }

    // The times of the editor's "mark" steps, by name.
    double mark(const std::string &name) const
    {
        std::string marks = read_file(log + "/marks");
        size_t at = marks.find(name + " ");
        return at == std::string::npos ? 0 : std::stod(marks.substr(at + name.size() + 1));
    }

    std::vector<std::string> left_in_tmp() const
    {
        return list_dir(tmp);
    }

    // Calls action with the temporary file's path, in a thread of its own, as
    // soon as the host has written the file and closed it: before the host
    // starts its editor, and so before it watches the file, however long the
    // editor takes to start (the host under valgrind on a busy machine needs
    // more than its 300 ms). Join the thread after the run; without a file
    // within a minute, action is not called.
    std::thread when_written(std::function<void(const std::string &)> action) const
    {
        int events = inotify_init1(IN_CLOEXEC);
        EXPECT_GE(events, 0);
        EXPECT_GE(inotify_add_watch(events, tmp.c_str(), IN_CLOSE_WRITE), 0);
        return std::thread([events, action, dir = tmp] {
            alignas(inotify_event) char buffer[4096];
            struct pollfd ready = {events, POLLIN, 0};
            ssize_t n = poll(&ready, 1, 60000) == 1 ? read(events, buffer, sizeof buffer) : -1;
            close(events);
            if (n <= 0)
                return;
            const auto *event = reinterpret_cast<const inotify_event *>(buffer);
            action(dir + "/" + event->name);
        });
    }
};

inline std::string help_line()
{
    return std::string("Native Messaging Host for the Zuraze Browser Extension <") +
           ZURAZE_HOMEPAGE_URL + ">\n";
}

#ifdef ZURAZE_WATCH_BY_POLLING
constexpr bool polling_build = true;
#else
constexpr bool polling_build = false;
#endif

// The responses without the one that a build watching by polling sends at its
// first look, when that look came before any save and so carried the text as
// the host wrote it. Other builds send nothing unless the file changed.
inline std::vector<std::string> without_first_look(std::vector<std::string> texts,
                                                   const std::string &as_written)
{
    if (polling_build && !texts.empty() && texts.front() == as_written)
        texts.erase(texts.begin());
    return texts;
}
