#include "command_line.hpp"

#include "std_streams.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct scan_case {
    std::vector<std::string> argv;
    bool help;
};

bool scan(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    return help_requested(static_cast<int>(args.size()), argv.data());
}

TEST(CommandLine, HelpOnlyForExactHelpOptionsBeforeDoubleDash)
{
    const scan_case cases[] = {
        {{"/usr/bin/zuraze-host"}, false},
        {{"/usr/bin/zuraze-host", "chrome-extension://abc/"}, false},
        {{"/usr/bin/zuraze-host", "/path/manifest.json", "ext@zuraze"}, false},
        {{"host", "-h"}, true},
        {{"host", "--help"}, true},
        {{"host", "-x", "--help"}, true},
        {{"host", "plain", "-h", "--"}, true},
        {{"host", "--", "-h"}, false},
        {{"host", "--", "--help"}, false},
        {{"host", "-"}, false},
        {{"host", "-x"}, false},
        {{"host", "-H"}, false},
        {{"host", "-hx"}, false},
        {{"host", "--helpme"}, false},
        {{"host", "--hel"}, false},
        {{"host", "---"}, false},
        {{"-h"}, true},
        {{"--help", "--"}, true},
        {{}, false},
    };
    for (const scan_case &c : cases) {
        std::string shown;
        for (const std::string &arg : c.argv)
            shown += "[" + arg + "]";
        EXPECT_EQ(scan(c.argv), c.help) << shown;
    }
}

TEST(CommandLine, HelpIsOneLineWithTheWebAddress)
{
    captured_output out(1);
    print_help();
    EXPECT_EQ(out.take(), std::string("Native Messaging Host for the Zuraze Browser Extension <") +
                              ZURAZE_HOMEPAGE_URL + ">\n");
}

} // namespace
