#include "manifest_reader.hpp"

#include "browser_rows.hpp"
#include "scratch_dir.hpp"

#include <cJSON.h>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string string_member(const cJSON *object, const char *key)
{
    const char *value = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(object, key));
    return value ? value : "<no string " + std::string(key) + ">";
}

} // namespace

manifest parse_manifest(const std::string &text)
{
    manifest m;
    cJSON *doc = cJSON_ParseWithLength(text.data(), text.size());
    if (!cJSON_IsObject(doc)) {
        cJSON_Delete(doc);
        return m;
    }
    m.parsed = true;
    for (const cJSON *item = doc->child; item; item = item->next)
        m.keys.push_back(item->string);
    m.name = string_member(doc, "name");
    m.description = string_member(doc, "description");
    m.path = string_member(doc, "path");
    m.type = string_member(doc, "type");
    for (const char *key : {"allowed_origins", "allowed_extensions"}) {
        const cJSON *list = cJSON_GetObjectItemCaseSensitive(doc, key);
        if (!list)
            continue;
        m.allow_key = key;
        for (const cJSON *entry = list->child; entry; entry = entry->next) {
            const char *value = cJSON_GetStringValue(entry);
            m.allowed.push_back(value ? value : "<not a string>");
        }
    }
    cJSON_Delete(doc);
    return m;
}

manifest read_manifest(const std::string &file)
{
    return parse_manifest(read_file(file));
}

void expect_manifest(const manifest &m, const std::string &browser, const std::string &host)
{
    SCOPED_TRACE(browser);
    ASSERT_TRUE(m.parsed);
    std::string family = family_of(browser);
    std::string key = family == "firefox" ? "allowed_extensions" : "allowed_origins";
    EXPECT_EQ(m.keys, (std::vector<std::string>{"name", "description", "path", "type", key}));
    EXPECT_EQ(m.name, ZURAZE_MANIFEST_NAME);
    EXPECT_EQ(m.path, host);
    EXPECT_EQ(m.type, "stdio");
    EXPECT_EQ(m.allow_key, key);
    EXPECT_EQ(m.allowed,
              expected_allow_list(family, family == "firefox" ? ZURAZE_FIREFOX_EXTENSION_IDS
                                                              : ZURAZE_CHROMIUM_EXTENSION_IDS));
}

std::vector<std::string> expected_allow_list(const std::string &family, const std::string &ids)
{
    std::vector<std::string> list;
    std::istringstream words(ids);
    for (std::string id; words >> id;)
        list.push_back(family == "chromium" ? "chrome-extension://" + id + "/" : id);
    return list;
}

std::string family_of(const std::string &browser)
{
    for (const browser_row &row : browser_rows)
        if (browser == row.browser)
            return row.family;
    ADD_FAILURE() << "no such browser: " << browser;
    return "";
}
