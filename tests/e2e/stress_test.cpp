#include "host_fixture.hpp"

#include <algorithm>
#include <cJSON.h>
#include <regex>
#include <set>
#include <thread>

namespace {

using Stress = host_fixture;

// A frame is well-formed when its body is exactly the document the host
// prints: an object whose one member "text" is a string.
bool well_formed(const host_frame &f)
{
    cJSON *doc = cJSON_ParseWithLength(f.body.data(), f.body.size());
    cJSON *text = cJSON_GetObjectItemCaseSensitive(doc, "text");
    bool ok = cJSON_IsObject(doc) && cJSON_IsString(text) && doc->child == text && !text->next;
    if (ok) {
        char *printed = cJSON_PrintUnformatted(doc);
        ok = f.body == printed;
        free(printed);
    }
    cJSON_Delete(doc);
    return ok;
}

// The number N of "save N\n", or 0 when text is not a whole save.
long save_number(const std::string &text)
{
    if (text.rfind("save ", 0) != 0 || text.back() != '\n')
        return 0;
    return std::stol(text.substr(5));
}

// True when text is the start of some "save N\n", the empty text included.
bool starts_a_save(const std::string &text)
{
    static const std::regex start("(s(a(v(e( ([0-9]+\n?)?)?)?)?)?)?");
    return std::regex_match(text, start);
}

// Every line of err is the one that a file shrinking under the sender gives.
bool only_shrink_reports(const std::string &err)
{
    static const std::regex line("(Failed to read [0-9]+ bytes from fd [0-9]+: Success\n)*");
    return std::regex_match(err, line);
}

TEST_F(Stress, AThousandRapidSavesGiveWellFormedFramesAndTheFinalText)
{
    const std::string storm = ZURAZE_TEST_EDITORS_DIR "/save-storm";
    for (const char *mode : {"in-place", "rename"}) {
        host_options options;
        options.env = env();
        options.input = frame(edit_request("orig", storm, {"1000", mode}));
        options.timeout = 240;
        host_result run = run_host(options);
        ASSERT_EQ(run.status, 0) << mode << ": " << run.err;
        EXPECT_EQ(run.stray_output, "") << mode;
        ASSERT_GE(run.frames.size(), 2u) << mode;
        for (const host_frame &f : run.frames)
            EXPECT_TRUE(well_formed(f)) << mode << ": " << f.body;
        std::vector<std::string> texts = run.texts();
        EXPECT_EQ(texts.back(), "save 1000\n") << mode;
        EXPECT_EQ(left_in_tmp(), std::vector<std::string>()) << mode;

        if (std::string(mode) == "rename") {
            // A file moved into place is whole whenever it is read, and the
            // saves arrive in order.
            EXPECT_EQ(run.err, "");
            long last = 0;
            for (const std::string &text : texts) {
                long n = save_number(text);
                EXPECT_TRUE(n >= last || text == "orig") << text;
                last = std::max(last, n);
            }
        } else {
            // A save in place truncates, then writes: a read between the two
            // sees a shorter file, or the start of a later save.
            EXPECT_TRUE(only_shrink_reports(run.err)) << run.err;
            for (const std::string &text : texts)
                EXPECT_TRUE(text == "orig" || starts_a_save(text)) << text;
        }
    }
}

// Every byte value but NUL, which ends the text: JSON escapes the controls,
// the quote and the backslash, and the bytes from 0x80 on are passed through
// as they are.
std::string every_byte(size_t size)
{
    std::string text;
    text.reserve(size);
    while (text.size() < size)
        text.push_back(static_cast<char>(text.size() % 255 + 1));
    return text;
}

std::string json_string(const std::string &bytes)
{
    std::string out = "\"";
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[7];
            snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

TEST_F(Stress, SixteenMebibytesOfEveryByteComeBackExactlyUpToTheFirstNul)
{
    const std::string text = every_byte(16 << 20);
    std::string body = "{\"text\":" + json_string(text + std::string(1, '\0') + "not sent") +
                       ",\"editor\":" + json_string(editor) + "}";
    host_options options;
    options.env = env();
    options.input = frame(body);
    options.timeout = 240;
    host_result run = run_host(options);
    ASSERT_EQ(run.status, 0) << run.err.substr(0, 500);
    ASSERT_EQ(run.frames.size(), 1u);
    EXPECT_EQ(run.stray_output, "");
    EXPECT_TRUE(run.texts()[0] == text);
    // Bytes that are not UTF-8 reach the page replaced, so the file is kept.
    std::vector<std::string> left = left_in_tmp();
    ASSERT_EQ(left.size(), 1u);
    std::string kept = tmp + "/" + left[0];
    EXPECT_TRUE(read_file(kept) == text);
    EXPECT_EQ(run.err, "Response of " + std::to_string(run.frames[0].body.size()) +
                           " bytes exceeds the browsers' limit of 1048576 bytes; the browser "
                           "will close the connection\n"
                           "The edited text holds bytes that are not UTF-8, which the browser "
                           "replaces; the original is kept in " +
                           kept + "\n");
}

// Twenty hosts edit at once in one TMPDIR, each saving by renaming a new
// file over its own, at staggered times, so every host sees the others'
// files come and go. A host that reacted to another's file would send its
// own content again: no text may come twice before the final send.
TEST_F(Stress, TwentyHostsShareOneTemporaryDirectory)
{
    constexpr int hosts = 20;
    std::vector<std::string> logs;
    std::vector<host_result> runs(hosts);
    std::vector<std::thread> threads;
    for (int k = 0; k < hosts; k++) {
        std::string name = "host " + std::to_string(k);
        logs.push_back(dir.make_dir("log" + std::to_string(k)));
        host_options options;
        options.env = {"PATH=" + bin, "TMPDIR=" + tmp, "ZURAZE_TEST_DIR=" + logs.back()};
        options.input = frame(edit_request(name + " orig", editor,
                                           {"record", "sleep=" + std::to_string(1.0 + 0.05 * k),
                                            "rename=" + name + " save 1", "sleep=0.8",
                                            "rename=" + name + " save 2", "sleep=0.5"}));
        options.timeout = 240;
        threads.emplace_back(
            [&runs, k, options] { runs[static_cast<size_t>(k)] = run_host(options); });
    }
    for (std::thread &t : threads)
        t.join();

    std::set<std::string> files;
    for (int k = 0; k < hosts; k++) {
        std::string name = "host " + std::to_string(k);
        const host_result &run = runs[static_cast<size_t>(k)];
        ASSERT_EQ(run.status, 0) << name << ": " << run.err;
        EXPECT_EQ(run.err, "") << name;
        std::vector<std::string> texts = run.texts();
        ASSERT_FALSE(texts.empty()) << name;
        EXPECT_EQ(texts.back(), name + " save 2");
        texts.pop_back();
        std::set<std::string> seen;
        for (const std::string &text : texts) {
            EXPECT_EQ(text.rfind(name + " ", 0), 0u) << name << " sent " << text;
            EXPECT_TRUE(seen.insert(text).second) << name << " sent twice: " << text;
        }

        std::string bytes = read_file(logs[static_cast<size_t>(k)] + "/args");
        std::string file = bytes.substr(bytes.rfind('\0', bytes.size() - 2) + 1);
        file.pop_back();
        EXPECT_EQ(file.rfind(tmp + "/zuraze_", 0), 0u) << file;
        files.insert(file);
    }
    EXPECT_EQ(files.size(), static_cast<size_t>(hosts));
    EXPECT_EQ(left_in_tmp(), std::vector<std::string>());
}

} // namespace
