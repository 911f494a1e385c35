#include "editor_lookup.hpp"

#include "scoped_env.hpp"
#include "scratch_dir.hpp"
#include "std_streams.hpp"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

// Gives what resolve_editor returned (or "<none>") and what it printed.
std::pair<std::string, std::string> resolve(const char *name)
{
    captured_output err(2);
    char *path = resolve_editor(name, strlen(name) + 1);
    std::string found = path ? path : "<none>";
    free(path);
    return {found, err.take()};
}

std::pair<std::string, std::string> choose(const char *json)
{
    cJSON *request = cJSON_Parse(json);
    captured_output err(2);
    char *path = choose_editor(request);
    std::string found = path ? path : "<none>";
    free(path);
    cJSON_Delete(request);
    return {found, err.take()};
}

TEST(DefaultEditors, SixInTheirOrderWithTheirSizes)
{
    const char *names[] = {"gvim", "sublime", "gedit", "kate", "mousepad", "leafpad"};
    ASSERT_EQ(std::size(default_editors), std::size(names));
    for (size_t i = 0; i < std::size(names); i++) {
        EXPECT_STREQ(default_editors[i].name, names[i]);
        EXPECT_EQ(default_editors[i].size, strlen(names[i]) + 1);
    }
}

TEST(ResolveEditor, SearchesPathInOrderTestingExistenceOnly)
{
    scratch_dir dir;
    std::string first = dir.make_dir("first");
    std::string second = dir.make_dir("second");
    dir.write_file("second/both", "", 0755);
    dir.write_file("first/both", "", 0755);
    dir.write_file("second/plain", "not executable", 0644);
    dir.make_dir("second/folder");
    dir.make_dir("second/bin");
    dir.write_file("second/bin/myeditor", "", 0755);

    struct lookup_case {
        std::string path;
        const char *name;
        std::string found;
    };
    const lookup_case cases[] = {
        {first + ":" + second, "both", first + "/both"},
        {second + ":" + first, "both", second + "/both"},
        {first + ":" + second, "plain", second + "/plain"},
        {first + ":" + second, "folder", second + "/folder"},
        {first + ":" + second, "bin/myeditor", second + "/bin/myeditor"},
        {"::" + second + ":", "plain", second + "/plain"},
        {second + "/", "plain", second + "//plain"},
        {first, "plain", "<none>"},
        {"", "plain", "<none>"},
        {":::", "plain", "<none>"},
    };
    for (const lookup_case &c : cases) {
        scoped_env path("PATH", c.path);
        EXPECT_EQ(resolve(c.name), std::make_pair(c.found, std::string()))
            << c.path << " " << c.name;
    }
}

TEST(ResolveEditor, RelativeDirectoriesResolveAgainstTheWorkingDirectory)
{
    scratch_dir dir;
    dir.make_dir("tools");
    dir.write_file("tools/ed", "", 0755);
    char *cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    scoped_env path("PATH", "tools");
    EXPECT_EQ(resolve("ed").first, "tools/ed");
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
}

TEST(ResolveEditor, GrowsTheCandidateForLongDirectories)
{
    // The first directory outgrows the initial buffer, the second its growth.
    scratch_dir dir;
    std::string deep = std::string(40, 'd');
    while (dir.path().size() + deep.size() < 300)
        deep += "/" + std::string(40, 'd');
    std::string deeper = deep + "/" + std::string(200, 'e');
    dir.make_dir(deeper);
    dir.write_file(deeper + "/gvim", "", 0755);
    scoped_env path("PATH", dir.path() + "/" + deep + ":" + dir.path() + "/" + deeper);
    EXPECT_EQ(resolve("gvim").first, dir.path() + "/" + deeper + "/gvim");
}

TEST(ResolveEditor, EmptyAndAbsoluteNamesNeedNoPath)
{
    scoped_env path("PATH", nullptr);
    EXPECT_EQ(resolve(""), std::make_pair(std::string("<none>"), std::string()));
    EXPECT_EQ(resolve("/no/such/editor"),
              std::make_pair(std::string("/no/such/editor"), std::string()));
}

TEST(ResolveEditor, ReportsAMissingPath)
{
    scoped_env path("PATH", nullptr);
    auto [found, message] = resolve("gedit");
    EXPECT_EQ(found, "<none>");
    EXPECT_EQ(message.rfind("Environment variable PATH variable was not found: ", 0), 0u)
        << message;
}

class ChooseEditor : public ::testing::Test {
  protected:
    scratch_dir dir;
    std::string bin = dir.make_dir("bin");
    scoped_env path{"PATH", bin};
};

TEST_F(ChooseEditor, TheRequestedEditorWinsWhenFound)
{
    dir.write_file("bin/myed", "", 0755);
    dir.write_file("bin/kate", "", 0755);
    EXPECT_EQ(choose(R"({"editor":"myed"})").first, bin + "/myed");
    EXPECT_EQ(choose(R"({"editor":"/opt/editor"})").first, "/opt/editor");
}

TEST_F(ChooseEditor, FallsBackSilentlyToTheFirstDefaultFound)
{
    dir.write_file("bin/kate", "", 0755);
    dir.write_file("bin/gedit", "", 0755);
    dir.write_file("bin/leafpad", "", 0755);
    const char *requests[] = {
        R"({"editor":"missing"})",
        R"({"editor":""})",
        R"({"editor":7})",
        R"({"editor":null})",
        R"({"editor":["myed"]})",
        R"({"editor":{}})",
        R"({"Editor":"kate"})",
        R"({})",
        R"([])",
        R"("gvim")",
    };
    for (const char *request : requests)
        EXPECT_EQ(choose(request), std::make_pair(bin + "/gedit", std::string())) << request;
}

TEST_F(ChooseEditor, NothingFoundEndsWithOneMessage)
{
    EXPECT_EQ(choose(R"({"editor":"missing"})"),
              std::make_pair(std::string("<none>"), std::string("Editor not found\n")));
}

TEST_F(ChooseEditor, AnUnsetPathIsReportedForEveryLookup)
{
    scoped_env unset("PATH", nullptr);
    auto [found, message] = choose(R"({"editor":"myed"})");
    EXPECT_EQ(found, "<none>");
    size_t lines = 0;
    for (size_t at = message.find("Environment variable PATH variable was not found: ");
         at != std::string::npos;
         at = message.find("Environment variable PATH variable was not found: ", at + 1))
        lines++;
    EXPECT_EQ(lines, 7u) << message;
    EXPECT_EQ(message.substr(message.size() - 17), "Editor not found\n");

    EXPECT_EQ(choose(R"({"editor":"/opt/ed"})"),
              std::make_pair(std::string("/opt/ed"), std::string()));
}

} // namespace
