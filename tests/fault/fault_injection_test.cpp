#include "host_fixture.hpp"

#include <cerrno>
#include <csignal>
#include <map>
#include <regex>
#include <sstream>
#include <sys/stat.h>

#ifndef ZURAZE_FAULT_SHIM
#error "ZURAZE_FAULT_SHIM names the preloaded fault shim"
#endif

// Whole runs of the built host with one call made to fail, or to do less than
// asked, by the preloaded shim (fault_shim.cpp). Under valgrind (the e2e pass
// of scripts/test) every case is also checked for leaks and invalid accesses.

namespace {

// What a case runs: the request and the world around the host. The editor
// exits at once, so that every run makes the same calls in the same order.
enum class scenario {
    edit,   // an absolute editor, an extension, no "args"
    no_ext, // the same without an extension
    lookup, // the editor by name, through a PATH whose first directory is long
    vim,    // the default editor gvim, with one argument of the request
};

// The calls struck: the occurrences first to last of call in where, counted
// as the shim counts them. An occurrence of 0 or less counts back from the
// last call of its kind in a run without faults: 0 is the last, -1 the one
// before it.
struct strike {
    const char *call;
    const char *where;
    long first = 1;
    long last = 1;
    const char *action = "fail";
    int error = 0; // 0: the shim's default, ENOMEM for allocations, EIO for the rest
    long times = 1;
};

strike at(const char *call, const char *where, long first, long last)
{
    return {call, where, first, last};
}

strike at(const char *call, const char *where, long occurrence = 1)
{
    return {call, where, occurrence, occurrence};
}

strike failing(const char *call, const char *where, long occurrence, int error)
{
    return {call, where, occurrence, occurrence, "fail", error};
}

strike doing(const char *action, const char *call, const char *where, long occurrence = 1,
             long times = 1)
{
    return {call, where, occurrence, occurrence, action, 0, times};
}

// What a run with the fault gives.
struct outcome {
    int status;
    // Standard error whole. {path} stands for the temporary file's path, {tmp}
    // for the temporary directory, {fd} for a descriptor number and {any} for
    // any text within one line.
    std::string err;
    std::vector<std::string> texts;
    const char *kept; // the content of the one file left in TMPDIR; null: none left
    size_t stray;     // bytes of a frame begun but not finished on standard output
};

// The run ends before the editor, with status 1 and nothing left behind.
outcome fails(const std::string &err)
{
    return {1, err, {}, nullptr, 0};
}

// The edit goes through: the text comes back and the file is removed.
outcome sends(const std::string &err = "")
{
    return {0, err, {"orig"}, nullptr, 0};
}

// The final send fails, so the file is kept, and said to be.
outcome keeps(const std::string &err, const char *content = "orig", size_t stray = 0)
{
    return {
        0, err + "The edited text could not be sent and is kept in {path}\n", {}, content, stray};
}

struct fault_case {
    const char *name;
    scenario world;
    strike fault;
    outcome expected;
};

constexpr int aborted = 128 + SIGABRT;

std::string escape_regex(const std::string &text)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

std::regex expected_pattern(const std::string &expected, const std::string &tmp)
{
    const std::pair<std::string, std::string> holes[] = {
        {"{path}", escape_regex(tmp) + "/zuraze_[A-Za-z0-9]{8}(\\.txt)?"},
        {"{tmp}", escape_regex(tmp)},
        {"{fd}", "[0-9]+"},
        {"{any}", "[^\n]*"},
    };
    std::string pattern;
    size_t at = 0;
    while (at < expected.size()) {
        size_t next = expected.size();
        const std::pair<std::string, std::string> *hole = nullptr;
        for (const auto &h : holes) {
            size_t found = expected.find(h.first, at);
            if (found < next) {
                next = found;
                hole = &h;
            }
        }
        pattern += escape_regex(expected.substr(at, next - at));
        if (!hole)
            break;
        pattern += hole->second;
        at = next + hole->first.size();
    }
    return std::regex(pattern);
}

class Faults : public host_fixture {
  protected:
    std::string long_dir = dir.make_dir(std::string(300, 'd'));

    host_options options_for(scenario world) const
    {
        host_options options;
        options.env = env();
        options.env.push_back("LD_PRELOAD=" ZURAZE_FAULT_SHIM);
        switch (world) {
        case scenario::edit:
            options.input = frame(edit_request("orig", editor, {}, "txt"));
            break;
        case scenario::no_ext:
            options.input = frame(edit_request("orig", editor));
            break;
        case scenario::lookup:
            options.input = frame(edit_request("orig", "scripted", {}, "txt"));
            options.env[0] = "PATH=" + long_dir + ":" + bin;
            break;
        case scenario::vim:
            options.input = frame(R"({"text":"orig","args":["record"]})");
            break;
        }
        return options;
    }

    void SetUp() override
    {
        install_editor("scripted");
        install_editor("gvim");
    }

    // The calls that the shim could strike in a run without faults, in order,
    // as "CALL WHERE". A host slowed down enough (valgrind on a busy machine)
    // starts watching before it sees its editor exit, which adds calls and
    // takes none away; so of a few runs, the one with the fewest calls is the
    // run that every faulty run follows.
    std::vector<std::string> calls_in(scenario world)
    {
        std::vector<std::string> fewest;
        for (int attempt = 0; attempt < 3; attempt++) {
            std::vector<std::string> calls = calls_of_one_run(world);
            if (attempt == 0 || calls.size() < fewest.size())
                fewest = calls;
        }
        return fewest;
    }

    std::vector<std::string> calls_of_one_run(scenario world)
    {
        std::string call_log = dir.path() + "/calls";
        host_options options = options_for(world);
        options.env.push_back("ZURAZE_FAULT_LOG=" + call_log);
        host_result run = run_host(options);
        EXPECT_EQ(run.status, 0) << run.err;
        std::istringstream lines(read_file(call_log));
        unlink(call_log.c_str());
        std::vector<std::string> calls;
        for (std::string line; std::getline(lines, line);)
            calls.push_back(line);
        clear_tmp();
        return calls;
    }

    static long count_of(const std::vector<std::string> &calls, const strike &s)
    {
        return std::count(calls.begin(), calls.end(), std::string(s.call) + " " + s.where);
    }

    // Occurrences from the end become occurrences from the start.
    static std::pair<long, long> occurrences(const std::vector<std::string> &calls, const strike &s)
    {
        long count = count_of(calls, s);
        auto absolute = [count](long n) { return n > 0 ? n : count + n; };
        return {absolute(s.first), absolute(s.last)};
    }

    void clear_tmp() const
    {
        for (const std::string &name : left_in_tmp())
            unlink((tmp + "/" + name).c_str());
    }

    void check(const fault_case &c, long occurrence, const host_result &run)
    {
        const outcome &e = c.expected;
        std::string shown = std::string(c.name) + " (" + c.fault.call + " " + c.fault.where + " #" +
                            std::to_string(occurrence) + ")";
        EXPECT_EQ(run.status, e.status) << shown << ": " << run.err;
        EXPECT_TRUE(std::regex_match(run.err, expected_pattern(e.err, tmp)))
            << shown << ": standard error is\n"
            << run.err << "expected\n"
            << e.err;
        EXPECT_EQ(run.texts(), e.texts) << shown;
        EXPECT_EQ(run.stray_output.size(), e.stray) << shown;
        std::vector<std::string> left = left_in_tmp();
        if (e.kept) {
            ASSERT_EQ(left.size(), 1u) << shown;
            EXPECT_EQ(read_file(tmp + "/" + left[0]), e.kept) << shown;
        } else {
            EXPECT_EQ(left, std::vector<std::string>()) << shown;
        }
        clear_tmp();
    }

    // Runs every case once for each occurrence it strikes.
    void run_cases(const std::vector<fault_case> &cases)
    {
        std::map<scenario, std::vector<std::string>> calls;
        for (const fault_case &c : cases) {
            if (!calls.count(c.world))
                calls[c.world] = calls_in(c.world);
            auto [first, last] = occurrences(calls[c.world], c.fault);
            ASSERT_LE(first, last) << c.name << ": no such call in the run";
            for (long n = first; n <= last; n++) {
                host_options options = options_for(c.world);
                const strike &s = c.fault;
                options.env.push_back(std::string("ZURAZE_FAULT_CALL=") + s.call);
                options.env.push_back(std::string("ZURAZE_FAULT_WHERE=") + s.where);
                options.env.push_back("ZURAZE_FAULT_AT=" + std::to_string(n));
                options.env.push_back("ZURAZE_FAULT_TIMES=" + std::to_string(s.times));
                options.env.push_back(std::string("ZURAZE_FAULT_ACTION=") + s.action);
                if (s.error)
                    options.env.push_back("ZURAZE_FAULT_ERRNO=" + std::to_string(s.error));
                check(c, n, run_host(options));
            }
        }
    }
};

// Every allocation of one whole edit, in the order in which the host makes
// them, each made to fail in its own run.
const std::vector<fault_case> edit_allocations = {
    {"the request body", scenario::edit, at("malloc", "host"),
     fails("Failed to allocate memory for the text: Cannot allocate memory\n")},
    {"parsing the request", scenario::edit, at("malloc", "cjson", 1, -5),
     fails("Failed parsing browser request: {any}\n")},
    // The requested editor is not found, so the first default one on PATH is.
    {"the absolute editor's copy", scenario::edit, at("strdup", "host", 1), sends()},
    {"the stand-in for a missing \"args\"", scenario::edit, at("malloc", "cjson", -4),
     fails("Couldn't get editor arguments\n")},
    {"the argument vector", scenario::edit, at("calloc", "host", 1),
     fails("malloc: Cannot allocate memory\nCouldn't get editor arguments\n")},
    {"the editor path in the vector", scenario::edit, at("strdup", "host", 2),
     fails("Invalid editor arguments\n")},
    {"the copy of \"text\"", scenario::edit, at("strndup", "host", 1),
     fails("Failed to read 'text' value\n")},
    {"the copy of \"ext\"", scenario::edit, at("strndup", "host", 2),
     sends("Failed to copy 'ext' value; going on without an extension\n")},
    {"the temporary directory's name", scenario::edit, at("strdup", "host", 3),
     fails("Failed to allocate temporary directory name\nFailed to open temporary file\n")},
    {"the temporary file's path", scenario::edit, at("calloc", "host", 2),
     fails("malloc failed: Cannot allocate memory\nFailed to open temporary file\n")},
    {"the temporary file's bare name", scenario::edit, at("strdup", "host", 4),
     fails("Failed to allocate temporary filename copy\n")},
    {"the default loop", scenario::edit, at("calloc", "uv", 1),
     fails("Failed to get the default loop\n")},
    // libuv aborts when it cannot grow its table of watched descriptors; the
    // host never learns of it, and the file stays behind as after any kill.
    {"libuv's table of watchers",
     scenario::edit,
     at("realloc", "uv", 1),
     {aborted, "", {}, "orig", 0}},
    {"the read buffer of the final send", scenario::edit, at("calloc", "host", 3),
     keeps("Failed to allocate memory for read buffer: Cannot allocate memory\n")},
    {"the response document", scenario::edit, at("malloc", "cjson", -3, 0), keeps("")},
    {"printing the response", scenario::edit, at("realloc", "cjson", 0), keeps("")},
};

TEST_F(Faults, EveryAllocationOfAnEditCanFail)
{
    std::vector<std::string> calls = calls_in(scenario::edit);
    ASSERT_GT(count_of(calls, at("malloc", "host")), 0)
        << "the host's allocations do not reach the shim; under valgrind, give it "
           "--soname-synonyms=somalloc=nouserintercepts";

    // Each allocation of the run is struck by exactly one case.
    std::map<std::string, std::vector<int>> struck;
    for (const fault_case &c : edit_allocations) {
        std::string kind = std::string(c.fault.call) + " " + c.fault.where;
        std::vector<int> &times = struck[kind];
        times.resize(static_cast<size_t>(count_of(calls, c.fault)));
        auto [first, last] = occurrences(calls, c.fault);
        for (long n = first; n <= last && n >= 1 && n <= static_cast<long>(times.size()); n++)
            times[static_cast<size_t>(n - 1)]++;
    }
    for (const char *call : {"malloc", "calloc", "realloc", "strdup", "strndup"}) {
        for (const char *where : {"host", "cjson", "uv"}) {
            std::string kind = std::string(call) + " " + where;
            long count = std::count(calls.begin(), calls.end(), kind);
            std::vector<int> times = struck[kind];
            times.resize(static_cast<size_t>(count));
            for (long n = 1; n <= count; n++)
                EXPECT_EQ(times[static_cast<size_t>(n - 1)], 1) << kind << " #" << n;
        }
    }

    run_cases(edit_allocations);
}

TEST_F(Faults, AllocationsOfTheEditorLookupAndItsArgumentsCanFail)
{
    run_cases({
        // Each failed lookup of the requested editor is followed by those of
        // the default editors, of which gvim is on PATH.
        {"the copy of PATH", scenario::lookup, at("strdup", "host", 1),
         sends("strdup: Cannot allocate memory\n")},
        {"the candidate buffer", scenario::lookup, at("malloc", "host", 2),
         sends("malloc failed: Cannot allocate memory\n")},
        {"growing the candidate buffer", scenario::lookup, at("realloc", "host", 1),
         sends("realloc: Cannot allocate memory\n")},
        // A slot left null ends the editor's arguments there; the scripted
        // editor then has no file and exits, and the text comes back as it was.
        {"a copy of an argument", scenario::vim, at("strdup", "host", 3),
         sends("strdup: Cannot allocate memory\n")},
        {"the copy of \"-f\"", scenario::vim, at("strdup", "host", 4), sends()},
    });
}

TEST_F(Faults, FailedAndShortSystemCallsAreReportedOrMended)
{
    run_cases({
        {"reading the length", scenario::edit, at("read", "stdin", 1),
         fails("Failed to read request size\n")},
        {"reading the body", scenario::edit, at("read", "stdin", 2),
         fails("Failed to read request body\n")},
        {"short reads of the request", scenario::edit, doing("short", "read", "stdin", 1, 0),
         sends()},
        {"a name that exists", scenario::edit, failing("mkstemps", "host", 1, EEXIST),
         fails("mkstemps: Temporary file already exists: {tmp}/zuraze_XXXXXXXX.txt\n"
               "Failed to open temporary file\n")},
        {"a directory that refuses files", scenario::edit, failing("mkstemps", "host", 1, EROFS),
         fails("mkstemps: Failed to create temporary file: Read-only file system\n"
               "Failed to open temporary file\n")},
        {"a name that exists, no extension", scenario::no_ext,
         failing("mkstemp", "host", 1, EEXIST),
         fails("mkstemp: Temporary file already exists: {tmp}/zuraze_XXXXXXXX\n"
               "Failed to open temporary file\n")},
        {"a directory that refuses files, no extension", scenario::no_ext,
         failing("mkstemp", "host", 1, EACCES),
         fails("mkstemp: Failed to create temporary file: Permission denied\n"
               "Failed to open temporary file\n")},
        {"writing the text", scenario::edit, failing("write", "temp", 1, ENOSPC),
         fails("Temporary file is not writable: No space left on device\n")},
        {"a short write of the text", scenario::edit, doing("short", "write", "temp"), sends()},
        {"closing the written file", scenario::edit, at("close", "temp"),
         fails("close: Input/output error\n")},
        {"opening the file to send it", scenario::edit, failing("open", "sent", 1, EACCES),
         keeps("send_file_response: Failed to open file {path}: Permission denied\n")},
        {"measuring the file", scenario::edit, at("lseek", "sent", 1),
         keeps("lseek: Input/output error\n")},
        {"rewinding the file", scenario::edit, at("lseek", "sent", 2),
         keeps("lseek: Input/output error\nFailed to lseek to 0: Input/output error\n")},
        {"reading the file", scenario::edit, at("read", "sent"),
         keeps("Failed to read 4 bytes from fd {fd}: Input/output error\n")},
        {"short reads of the file", scenario::edit, doing("short", "read", "sent", 1, 0), sends()},
        {"a file that shrinks before it is read", scenario::edit, doing("shrink", "read", "sent"),
         keeps("Failed to read 4 bytes from fd {fd}: Success\n", "or")},
        {"writing the response's length", scenario::edit, failing("write", "stdout", 1, EPIPE),
         keeps("Failed to write response size: Broken pipe\n")},
        {"writing the response's body", scenario::edit, at("write", "stdout", 2),
         keeps("Failed to write response body: Input/output error\n", "orig", 4)},
        {"short writes of the response", scenario::edit, doing("short", "write", "stdout", 1, 0),
         sends()},
        {"interrupted writes of the response",
         scenario::edit,
         {"write", "stdout", 1, 1, "fail", EINTR, 3},
         sends()},
    });
}

// mkstemps reports a name that exists, and a symbolic link to a file of the
// user's sits at the very name the host reports: the host neither opens nor
// removes it, so the file it points to stays as it was.
TEST_F(Faults, ANameThatExistsIsNeitherFollowedNorRemoved)
{
    std::string victim = dir.write_file("victim", "the user's own file");
    std::string planted = tmp + "/zuraze_XXXXXXXX.txt";
    ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
    host_options options = options_for(scenario::edit);
    options.env.push_back("ZURAZE_FAULT_CALL=mkstemps");
    options.env.push_back("ZURAZE_FAULT_ERRNO=" + std::to_string(EEXIST));
    host_result run = run_host(options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "mkstemps: Temporary file already exists: " + planted +
                           "\nFailed to open temporary file\n");
    EXPECT_EQ(left_in_tmp(), std::vector<std::string>{"zuraze_XXXXXXXX.txt"});
    struct stat st;
    ASSERT_EQ(lstat(planted.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(victim), "the user's own file");
}

} // namespace
