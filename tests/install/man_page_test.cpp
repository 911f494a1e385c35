#include "command.hpp"
#include "scratch_dir.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <regex>

namespace {

const std::string man_page = ZURAZE_SOURCE_DIR "/doc/zuraze-host.1";

command_result groff(const std::vector<std::string> &options)
{
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec groff \"$@\"", "groff"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(man_page);
    return run_command(argv, {"PATH=/usr/bin:/bin"});
}

std::string squeeze_blanks(const std::string &text)
{
    return std::regex_replace(text, std::regex("\\s+"), " ");
}

// The fixed parts of every message that the host's sources print on standard
// error: the C string literals given to fputs, fprintf(stderr, ...) and
// perror, cut at each conversion and line break.
std::vector<std::string> diagnostic_texts()
{
    const std::regex call(
        R"re((?:fputs\(|perror\(|fprintf\(stderr,)\s*((?:"(?:[^"\\]|\\.)*"\s*)+))re");
    const std::regex literal(R"re("((?:[^"\\]|\\.)*)")re");
    const std::regex cut(R"re(%[-0-9.]*[a-z]+|\\n)re");
    std::vector<std::string> texts;
    for (const std::string &name : list_dir(ZURAZE_SOURCE_DIR "/src")) {
        std::string source = read_file(ZURAZE_SOURCE_DIR "/src/" + name);
        for (std::sregex_iterator c(source.begin(), source.end(), call), end; c != end; ++c) {
            std::string joined;
            std::string literals = (*c)[1];
            for (std::sregex_iterator l(literals.begin(), literals.end(), literal); l != end; ++l)
                joined += (*l)[1];
            joined = std::regex_replace(joined, std::regex(R"(\\(["\\]))"), "$1");
            for (std::sregex_token_iterator piece(joined.begin(), joined.end(), cut, -1), none;
                 piece != none; ++piece) {
                std::string text = squeeze_blanks(*piece);
                if (std::regex_search(text, std::regex("[A-Za-z]{3}")))
                    texts.push_back(text);
            }
        }
    }
    return texts;
}

TEST(ManPage, RendersWithoutWarnings)
{
    command_result run = groff({"-man", "-ww", "-z"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST(ManPage, ListsEveryMessageOfTheHost)
{
    command_result run = groff({"-man", "-Tascii", "-P-cbou", "-rLL=2000n"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string page = squeeze_blanks(run.out);
    std::vector<std::string> texts = diagnostic_texts();
    ASSERT_NE(std::find(texts.begin(), texts.end(), "Editor not found"), texts.end())
        << "the sources' messages were not found";
    for (const std::string &text : texts)
        EXPECT_NE(page.find(text), std::string::npos) << "not in the man page: \"" << text << "\"";
}

} // namespace
