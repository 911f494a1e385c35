#include "browser_rows.hpp"
#include "command.hpp"
#include "programs.hpp"
#include "scratch_dir.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

namespace {

const std::string host_page = ZURAZE_SOURCE_DIR "/doc/zuraze-host.1";
const std::string register_page = ZURAZE_SOURCE_DIR "/doc/zuraze-host-register.1";
const char *const tool_path = "/usr/bin:/bin";

// groff renders the pages; a build environment without it skips these tests.
class ManPage : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (find_program("groff", tool_path).empty())
            GTEST_SKIP() << "groff is not installed (Debian: groff-base)";
    }
};

command_result groff(const std::vector<std::string> &options, const std::string &page = host_page)
{
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec groff \"$@\"", "groff"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(page);
    return run_command(argv, {std::string("PATH=") + tool_path});
}

// The page as text on one long line per paragraph.
std::string rendered(const std::string &page)
{
    command_result run = groff({"-man", "-Tascii", "-P-cbou", "-rLL=2000n"}, page);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
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

// On a terminal of 80 columns too, as man shows them, where a line that
// cannot be filled is a warning.
TEST_F(ManPage, RendersWithoutWarnings)
{
    for (const std::string &page : {host_page, register_page}) {
        SCOPED_TRACE(page);
        command_result run = groff({"-man", "-ww", "-z"}, page);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        run = groff({"-man", "-ww", "-Tutf8"}, page);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(ManPage, ListsEveryMessageOfTheHost)
{
    std::string page = squeeze_blanks(rendered(host_page));
    std::vector<std::string> texts = diagnostic_texts();
    ASSERT_NE(std::find(texts.begin(), texts.end(), "Editor not found"), texts.end())
        << "the sources' messages were not found";
    for (const std::string &text : texts)
        EXPECT_NE(page.find(text), std::string::npos) << "not in the man page: \"" << text << "\"";
}

// What --help lists: the commands (the indented words before "Options:"),
// the options (the indented words that start with '-' after it, and what
// follows a comma there) and the browsers (the words after "Browsers:", on
// its line and on the indented lines that follow it).
std::set<std::string> help_words(const std::string &help)
{
    std::set<std::string> words;
    std::istringstream lines(help);
    bool options = false;
    bool browsers = false;
    const std::regex command(R"(^  ([a-z]+)  .*)");
    const std::regex option(R"(^  (-[-a-z]+)(, (-[-a-z]+))?.*)");
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Browsers:", 0) == 0 || (browsers && line.rfind("  ", 0) == 0)) {
            browsers = true;
            std::istringstream names(line.rfind("Browsers:", 0) == 0 ? line.substr(9) : line);
            for (std::string browser; names >> browser;)
                words.insert(browser);
            continue;
        }
        browsers = false;
        if (line == "Options:") {
            options = true;
        } else if (!options && std::regex_match(line, match, command)) {
            words.insert(match[1]);
        } else if (options && std::regex_match(line, match, option)) {
            words.insert(match[1]);
            if (match[3].matched)
                words.insert(match[3]);
        }
    }
    return words;
}

TEST_F(ManPage, ListsEveryCommandOptionAndBrowserOfTheRegistrationCommand)
{
    command_result help = run_command({ZURAZE_REGISTER_COMMAND, "--help"}, {"PATH=/usr/bin:/bin"});
    ASSERT_EQ(help.status, 0) << help.err;
    std::set<std::string> words = help_words(help.out);
    for (const char *known :
         {"install", "uninstall", "status", "doctor", "manifest", "--host", "--name",
          "--chromium-id", "--firefox-id", "--force", "--json", "-h", "--help", "firefox",
          "google-chrome-canary", "opera", "microsoft-edge-flatpak"})
        ASSERT_EQ(words.count(known), 1u) << known << " was not found in --help:\n" << help.out;

    // Each as a word of its own: "--host" in "--host-dir" would not count.
    std::string page = " " + squeeze_blanks(rendered(register_page)) + " ";
    for (const std::string &word : words) {
        const std::regex alone("[\\s,|\\[]" + word + "[\\s,|.\\]]");
        EXPECT_TRUE(std::regex_search(page, alone)) << "not in the man page: " << word;
    }
}

// What a user of a sandboxed browser and of doctor must find in the page:
// every Flatpak app ID, the wrapper's command, the permission commands that
// install and doctor print, doctor's checks and statuses, and where the
// manifest reader is installed.
TEST_F(ManPage, DescribesTheSandboxesAndDoctor)
{
    std::string page = squeeze_blanks(rendered(register_page));
    std::vector<std::string> wanted = {
        "flatpak-spawn --host --watch-bus",
        "flatpak override --user --talk-name=org.freedesktop.Flatpak app-id",
        "flatpak info --show-permissions",
        "flatpak permission-set webextensions name snap.firefox yes",
        "name-wrapper",
        "libexec/zuraze-host/zuraze-host-read-manifest",
        "summary: ",
        "STATUS [browser ]check: message",
        "--json"};
    for (const char *word : {"PASS", "WARN", "FAIL", "manifest", "allow-list", "sandbox", "host",
                             "round trip", "editor"})
        wanted.push_back(std::string(word));
    for (const browser_row &row : browser_rows) {
        if (*row.app)
            wanted.push_back(row.app);
    }
    for (const std::string &text : wanted)
        EXPECT_NE(page.find(text), std::string::npos) << "not in the man page: \"" << text << "\"";
}

} // namespace
