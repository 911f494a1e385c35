#include "utf8_validation.hpp"

#include <gtest/gtest.h>
#include <string>

namespace {

struct utf8_case {
    const char *name;
    std::string bytes;
    bool valid;
};

TEST(Utf8Validation, AcceptsWellFormedTextAndRejectsEveryKindOfMalformedSequence)
{
    const utf8_case cases[] = {
        {"empty", "", true},
        {"ASCII", "plain text\n", true},
        {"NUL byte", std::string("a\0b", 3), true},
        {"two bytes",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         true},
        {"three bytes", "\xE6\x97\xA5\xE6\x9C\xAC", true},
        {"four bytes", "\xF0\x9F\x99\x82", true},
        {"lowest of each length", "\x7F\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80", true},
        {"highest of each length", "\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF", true},
        {"around the surrogates", "\xED\x9F\xBF\xEE\x80\x80", true},
        {"Latin-1", "caf\xE9", false},
        {"lone continuation",
         "a\x80"
         "b",
         false},
        {"overlong two bytes", "\xC0\xAF", false},
        {"overlong C1", "\xC1\xBF", false},
        {"overlong three bytes", "\xE0\x9F\xBF", false},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", false},
        {"first surrogate", "\xED\xA0\x80", false},
        {"last surrogate", "\xED\xBF\xBF", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"F5 lead", "\xF5\x80\x80\x80", false},
        {"FF byte", "\xFF", false},
        {"cut at the end", "ok \xE6\x97", false},
        {"cut before ASCII",
         "\xE6\x97"
         "a",
         false},
        {"third byte not a continuation",
         "\xF0\x9F\x99"
         "a",
         false},
    };
    for (const utf8_case &c : cases)
        EXPECT_EQ(is_valid_utf8(c.bytes.data(), c.bytes.size()), c.valid) << c.name;
}

TEST(Utf8Validation, ReadsOnlyTheGivenLength)
{
    const char text[] = "ok\xE9";
    EXPECT_TRUE(is_valid_utf8(text, 2));
    EXPECT_FALSE(is_valid_utf8(text, 3));
    EXPECT_TRUE(is_valid_utf8(nullptr, 0));
}

} // namespace
