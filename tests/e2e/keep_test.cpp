#include "host_fixture.hpp"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/types.h>

namespace {

// The host keeps the file, and names it, whenever the page did not get the
// last save as it is, and it never outlives the browser's end of the channel.
class Keep : public host_fixture {
  protected:
    // The one file left in TMPDIR, by its path; empty when none or several.
    std::string kept_file() const
    {
        std::vector<std::string> left = left_in_tmp();
        return left.size() == 1 ? tmp + "/" + left[0] : "";
    }

    // The editor's process ID, as its "pid" step wrote it.
    pid_t editor_pid() const
    {
        std::string text = read_file(log + "/pid");
        return text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
    }

    // Waits up to a generous time for the editor's mark, and gives whether
    // it came.
    bool wait_for_mark(const std::string &name) const
    {
        for (int i = 0; i < 300 && mark(name) == 0; i++)
            usleep(50000);
        return mark(name) != 0;
    }
};

// Running, not a zombie waiting to be reaped.
bool process_runs(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// Ends a left editor, so that no test leaves a process behind.
void end_editor(pid_t pid)
{
    if (pid > 0 && process_runs(pid))
        kill(pid, SIGKILL);
}

// CPU seconds that pid has used, from /proc.
double cpu_seconds(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field && i <= 15; i++)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST_F(Keep, AFinalSaveThatThePageCannotGetAsItIsIsKept)
{
    struct final_case {
        const char *name;
        std::string step;
        std::string file; // what the file holds
        std::string sent; // the frame's text
        std::string line; // {path} stands for the file's path
    };
    const final_case cases[] = {
        {"NUL byte", "bytes=before\\000after", std::string("before\0after", 12), "before",
         "The edited text holds a NUL byte, so the page got only what precedes it; the whole "
         "text is kept in {path}\n"},
        {"Latin-1", "bytes=caf\\351 cr\\350me", "caf\xE9 cr\xE8me", "caf\xE9 cr\xE8me",
         "The edited text holds bytes that are not UTF-8, which the browser replaces; the "
         "original is kept in {path}\n"},
        {"NUL after Latin-1", "bytes=caf\\351\\000more", std::string("caf\xE9\0more", 9), "caf\xE9",
         "The edited text holds a NUL byte, so the page got only what precedes it; the whole "
         "text is kept in {path}\n"},
    };
    for (const final_case &c : cases) {
        host_result run = run_host(edit("original", {c.step}));
        EXPECT_EQ(run.status, 0) << c.name << ": " << run.err;
        EXPECT_EQ(run.texts(), std::vector<std::string>{c.sent}) << c.name;
        std::string kept = kept_file();
        ASSERT_NE(kept, "") << c.name;
        EXPECT_TRUE(read_file(kept) == c.file) << c.name;
        std::string line = c.line;
        line.replace(line.find("{path}"), 6, kept);
        EXPECT_EQ(run.err, line) << c.name;
        unlink(kept.c_str());
    }
}

// The page gets each live save with the bad bytes replaced; one line says so,
// however many such saves come. A faithful last save removes the file.
TEST_F(Keep, LiveSavesThatAreNotUtf8AreNamedOnce)
{
    host_result run = run_host(edit("original", {"sleep=0.7", "bytes=caf\\351", "sleep=0.7",
                                                 "bytes=na\\357ve", "sleep=0.7", "write=fine"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "The edited text holds bytes that are not UTF-8; the browser will replace "
                       "them\n");
    std::vector<std::string> texts = run.texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts.back(), "fine");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "caf\xE9"), texts.end());
    EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
}

// A script writes one request and closes its end at once: the edit runs to
// the editor's exit as always, and the file goes.
TEST_F(Keep, ACallerThatClosesItsInputAtOnceGetsTheWholeEdit)
{
    host_options options = edit("original", {"sleep=1", "write=later", "sleep=0.5"});
    options.close_input = true;
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> texts = without_first_look(run.texts(), "original");
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts.front(), "later");
    EXPECT_EQ(texts.back(), "later");
    EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
}

// The browser lets go while the editor is open: the host goes at once, with
// status 1, and the editor stays open on the kept file, which gets its later
// save.
TEST_F(Keep, WhenTheBrowserLetsGoTheHostEndsAndTheEditorKeepsTheFile)
{
    struct let_go_case {
        const char *name;
        bool close_input;
        bool close_output;
    };
    const let_go_case cases[] = {
        {"input's writer goes", true, false},
        {"output's reader goes", false, true},
        {"both go", true, true},
    };
    for (const let_go_case &c : cases) {
        std::string marks = log + "/marks";
        unlink(marks.c_str());
        host_options options =
            edit("original", {"pid", "sleep=0.5", "write=first", "sleep=1.5", "mark=ready",
                              "sleep=3", "write=later", "mark=saved"});
        options.act_when = marks;
        options.act_close_input = c.close_input;
        options.act_close_output = c.close_output;
        host_result run = run_host(options);
        pid_t editor_process = editor_pid();
        EXPECT_EQ(run.status, 1) << c.name << ": " << run.err;
        EXPECT_TRUE(process_runs(editor_process)) << c.name;
        EXPECT_GT(run.acted_at, 0) << c.name;
        std::string kept = kept_file();
        ASSERT_NE(kept, "") << c.name;
        EXPECT_EQ(run.err,
                  "The browser closed the connection; the edited text is kept in " + kept + "\n")
            << c.name;
        if (!c.close_output) {
            EXPECT_EQ(without_first_look(run.texts(), "original"),
                      std::vector<std::string>{"first"})
                << c.name;
        }

        EXPECT_TRUE(wait_for_mark("saved")) << c.name;
        EXPECT_LT(run.exited_at, mark("saved")) << c.name;
        EXPECT_EQ(read_file(kept), "later") << c.name;
        end_editor(editor_process);
        unlink(kept.c_str());
    }
}

// A stop signal mid-edit keeps the file, says so, and ends the host as the
// signal would; the editor is not signalled.
TEST_F(Keep, AStopSignalKeepsTheFileAndEndsTheHostByThatSignal)
{
    const std::pair<int, const char *> signals[] = {
        {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGINT, "SIGINT"}};
    for (const auto &[number, name] : signals) {
        std::string marks = log + "/marks";
        unlink(marks.c_str());
        host_options options = edit(
            "original", {"pid", "sleep=1.5", "mark=ready", "sleep=3", "write=later", "mark=saved"});
        options.act_when = marks;
        options.act_signal = number;
        host_result run = run_host(options);
        pid_t editor_process = editor_pid();
        EXPECT_EQ(run.status, 128 + number) << name << ": " << run.err;
        EXPECT_TRUE(process_runs(editor_process)) << name;
        std::string kept = kept_file();
        ASSERT_NE(kept, "") << name;
        EXPECT_EQ(run.err, std::string("Stopped by ") + name + "; the edited text is kept in " +
                               kept + "\n");
        EXPECT_TRUE(wait_for_mark("saved")) << name;
        EXPECT_EQ(read_file(kept), "later") << name;
        end_editor(editor_process);
        unlink(kept.c_str());
    }
}

// Firefox keeps standard output open, unread, until its SIGTERM: a frame
// that waits for that reader gives up on the signal, and the file is kept.
TEST_F(Keep, AStopSignalEndsAFrameThatWaitsForAReader)
{
    host_options options =
        edit(std::string(3 << 20, 'z'), {"sleep=0.6", "append=!", "mark=ready", "sleep=5"});
    options.read_delay = 5;
    options.act_when = log + "/marks";
    options.act_call = [](int pid) {
        usleep(800000);
        kill(pid, SIGTERM);
    };
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 128 + SIGTERM) << run.err;
    std::string kept = kept_file();
    ASSERT_NE(kept, "");
    std::string line = "Stopped by SIGTERM; the edited text is kept in " + kept + "\n";
    ASSERT_GE(run.err.size(), line.size());
    EXPECT_EQ(run.err.substr(run.err.size() - line.size()), line) << run.err;
    EXPECT_LT(run.exited_at - run.acted_at, 4.0);
    EXPECT_TRUE(read_file(kept) == std::string(3 << 20, 'z') + "!");
}

// The host watches its input for the writer's going, never for data: a byte
// after the request stays unread, and does not keep the host busy.
TEST_F(Keep, AByteAfterTheRequestStaysUnreadAndIdle)
{
    host_options options = edit("text", {"sleep=1", "mark=ready", "sleep=3"});
    options.input += "X";
    options.act_when = log + "/marks";
    double busy = -1;
    options.act_call = [&](int pid) {
        double before = cpu_seconds(pid);
        sleep(2);
        busy = cpu_seconds(pid) - before;
    };
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.unread_input, "X");
    EXPECT_GE(busy, 0);
    EXPECT_LT(busy, 0.5) << "seconds of CPU in 2 s while the editor slept";
    EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
}

} // namespace
