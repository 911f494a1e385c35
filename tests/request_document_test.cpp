#include "request_document.hpp"

#include "std_streams.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(ParseRequest, ReportsWhereParsingStopped)
{
    captured_output err(2);
    EXPECT_EQ(parse_request("hello"), nullptr);
    EXPECT_EQ(err.take(), "Failed parsing browser request: hello\n");

    captured_output err2(2);
    EXPECT_EQ(parse_request("{\"text\": tru}"), nullptr);
    EXPECT_EQ(err2.take(), "Failed parsing browser request: tru}\n");
}

TEST(ParseRequest, TakesTheFirstValueAndIgnoresWhatFollows)
{
    cJSON *request = parse_request("{\"text\":\"a\"} x");
    ASSERT_NE(request, nullptr);
    EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetObjectItem(request, "text")), "a");
    cJSON_Delete(request);
}

TEST(ParseRequest, StopsAtANulByte)
{
    const char body[] = "{\"text\":\"a\"}\0{{{";
    cJSON *request = parse_request(body);
    ASSERT_NE(request, nullptr);
    cJSON_Delete(request);

    captured_output err(2);
    const char cut[] = "{\"text\":\0\"a\"}";
    EXPECT_EQ(parse_request(cut), nullptr);
    EXPECT_EQ(err.take(), "Failed parsing browser request: \n");
}

struct member_case {
    const char *json;
    const char *name;
    const char *value; // null: no copy
    uint32_t length;   // untouched_length when the length must not be written
};

constexpr uint32_t untouched_length = 0xdeadbeef;

TEST(GetStringMember, CopiesOnlyStringMembersOfObjects)
{
    const member_case cases[] = {
        {R"({"text":"abc"})", "text", "abc", 3},
        {R"({"text":""})", "text", "", 0},
        {R"({"text":"é\n\"x\""})", "text", "é\n\"x\"", 6},
        {R"({"text":"a\u0000b"})", "text", "a", 1},
        {R"({"text":"a","text":"b"})", "text", "a", 1},
        {R"({"text":7})", "text", nullptr, untouched_length},
        {R"({"text":null})", "text", nullptr, untouched_length},
        {R"({"text":["a"]})", "text", nullptr, untouched_length},
        {R"({"Text":"a"})", "text", nullptr, untouched_length},
        {R"({})", "text", nullptr, untouched_length},
        {R"(["text"])", "text", nullptr, untouched_length},
        {R"("text")", "text", nullptr, untouched_length},
        {R"({"ext":"md"})", "ext", "md", 2},
    };
    for (const member_case &c : cases) {
        cJSON *item = cJSON_Parse(c.json);
        ASSERT_NE(item, nullptr) << c.json;
        uint32_t length = untouched_length;
        captured_output err(2);
        char *value = get_string_member(item, &length, c.name);
        EXPECT_EQ(err.take(), "") << c.json;
        if (c.value) {
            ASSERT_NE(value, nullptr) << c.json;
            EXPECT_STREQ(value, c.value) << c.json;
        } else {
            EXPECT_EQ(value, nullptr) << c.json;
        }
        EXPECT_EQ(length, c.length) << c.json;
        free(value);
        cJSON_Delete(item);
    }
}

TEST(ReadTextAndExt, TextIsRequiredExtIsNot)
{
    struct text_case {
        const char *json;
        bool ok;
        const char *ext;
        uint32_t ext_length;
        const char *message;
    };
    const text_case cases[] = {
        {R"({"text":"a","ext":"md"})", true, "md", 2, ""},
        {R"({"text":"a"})", true, nullptr, 0, ""},
        {R"({"text":"a","ext":""})", true, "", 0, ""},
        {R"({"text":"a","ext":3})", true, nullptr, 0, ""},
        {R"({"ext":"md"})", false, nullptr, 0, "Failed to read 'text' value\n"},
        {R"({"text":{}})", false, nullptr, 0, "Failed to read 'text' value\n"},
        {R"({"TEXT":"a"})", false, nullptr, 0, "Failed to read 'text' value\n"},
    };
    for (const text_case &c : cases) {
        cJSON *request = cJSON_Parse(c.json);
        request_members members{};
        captured_output err(2);
        bool ok = read_text_and_ext(request, &members);
        EXPECT_EQ(err.take(), c.message) << c.json;
        EXPECT_EQ(ok, c.ok) << c.json;
        if (c.ext) {
            EXPECT_STREQ(members.ext, c.ext) << c.json;
        } else {
            EXPECT_EQ(members.ext, nullptr) << c.json;
        }
        EXPECT_EQ(members.ext_length, c.ext_length) << c.json;
        free(members.text);
        free(members.ext);
        cJSON_Delete(request);
    }
}

} // namespace
