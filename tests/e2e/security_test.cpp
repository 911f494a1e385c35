#include "host_fixture.hpp"
#include "programs.hpp"

#include <sstream>

// That the editor is started without a shell, its arguments unchanged, is
// Edit.ArgumentsExtensionAndEnvironmentReachTheEditorUnchanged; that an
// extension holding '/' or ".." never leaves the temporary directory is
// CreateTemporaryFile.AnExtensionWithASlashNeverLeavesTheDirectory.

namespace {

using Security = host_fixture;

// The system calls show how the file is made: with O_CREAT and O_EXCL, which
// the kernel refuses for any name that exists, a symbolic link (even one that
// points nowhere) included, and with mode 0600. Every other open of it only
// reads.
TEST_F(Security, TheTemporaryFileIsCreatedNewAndPrivate)
{
    std::string strace = find_program("strace");
    if (strace.empty())
        GTEST_SKIP() << "strace is not installed (Debian: strace)";
    std::string trace = dir.path() + "/trace";
    for (const char *ext : {"", "txt"}) {
        host_options options = edit("text", {}, ext);
        options.wrapper = {strace, "-qq", "-e", "trace=open,openat,creat", "-o", trace};
        // LeakSanitizer cannot work under ptrace; the other runs check leaks.
        options.env.push_back("ASAN_OPTIONS=detect_leaks=0");
        host_result run = run_host(options);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.texts(), std::vector<std::string>{"text"});

        std::istringstream lines(read_file(trace));
        std::vector<std::string> creating, reading;
        for (std::string line; std::getline(lines, line);) {
            if (line.find("\"" + tmp + "/") == std::string::npos)
                continue;
            bool creates = line.find("O_CREAT") != std::string::npos;
            (creates ? creating : reading).push_back(line);
        }
        ASSERT_EQ(creating.size(), 1u) << read_file(trace);
        EXPECT_NE(creating[0].find("O_RDWR|O_CREAT|O_EXCL, 0600) = "), std::string::npos)
            << creating[0];
        ASSERT_FALSE(reading.empty());
        for (const std::string &line : reading)
            EXPECT_NE(line.find(", O_RDONLY) = "), std::string::npos) << line;
        EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
    }
}

} // namespace
