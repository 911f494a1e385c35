#include "editor_command_line.hpp"

#include "std_streams.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr const char *file_slot = "<file>";

struct argv_case {
    const char *request;
    const char *editor;
    std::vector<const char *> slots; // before the terminator; file_slot marks the path's slot
};

std::vector<std::string> slots_of(const editor_argv &argv)
{
    std::vector<std::string> slots;
    for (size_t i = 0; i + 1 < argv.count; i++)
        slots.push_back(argv.slots[i] ? argv.slots[i] : file_slot);
    return slots;
}

TEST(BuildEditorArgv, EditorThenStringArgumentsThenVimFlagThenFile)
{
    const argv_case cases[] = {
        {R"({})", "/usr/bin/gvim", {"/usr/bin/gvim", "-f", file_slot}},
        {R"({})", "/usr/bin/gedit", {"/usr/bin/gedit", "--wait", file_slot}},
        {R"({"args":[]})", "/usr/bin/gedit", {"/usr/bin/gedit", "--wait", file_slot}},
        {R"({"args":["-p","+10"]})",
         "/usr/bin/gvim",
         {"/usr/bin/gvim", "-p", "+10", "-f", file_slot}},
        {R"({"args":["a",5,"b"]})",
         "/usr/bin/gedit",
         {"/usr/bin/gedit", "a", "b", "--wait", file_slot}},
        {R"({"args":{"x":"a","y":1}})", "/e", {"/e", "a", file_slot}},
        {R"({"args":"-n"})", "/e", {"/e", file_slot}},
        {R"({"args":5})", "/e", {"/e", file_slot}},
        {R"({"args":true})", "/e", {"/e", file_slot}},
        {R"({"args":null})", "/e", {"/e", file_slot}},
        {R"({"args":[null,["x"],{"k":"v"},"y"]})", "/e", {"/e", "y", file_slot}},
        {R"j({"args":["", "a b", "'q'", ";", "$(rm -rf x)", "*"]})j",
         "/e",
         {"/e", "", "a b", "'q'", ";", "$(rm -rf x)", "*", file_slot}},
        {R"({"Args":["x"]})", "/e", {"/e", file_slot}},
        {R"({})", "/opt/vim", {"/opt/vim", "-f", file_slot}},
        {R"({})", "/usr/local/bin/nvim", {"/usr/local/bin/nvim", "-f", file_slot}},
        {R"({})", "/usr/bin/vi", {"/usr/bin/vi", file_slot}},
        {R"({})", "/usr/bin/vim.basic", {"/usr/bin/vim.basic", file_slot}},
        {R"({})", "/usr/bin/VIM", {"/usr/bin/VIM", file_slot}},
        {R"({})", "im", {"im", file_slot}},
        {R"({})", "vim", {"vim", "-f", file_slot}},
    };
    for (const argv_case &c : cases) {
        cJSON *request = cJSON_Parse(c.request);
        ASSERT_NE(request, nullptr) << c.request;
        captured_output err(2);
        editor_argv argv = build_editor_argv(request, c.editor);
        EXPECT_EQ(err.take(), "") << c.request;
        ASSERT_NE(argv.slots, nullptr) << c.request;
        EXPECT_EQ(argv.count, c.slots.size() + 1) << c.request;
        EXPECT_EQ(slots_of(argv), std::vector<std::string>(c.slots.begin(), c.slots.end()))
            << c.request << " " << c.editor;
        EXPECT_EQ(argv.slots[argv.count - 2], nullptr) << c.request;
        EXPECT_EQ(argv.slots[argv.count - 1], nullptr) << c.request;
        EXPECT_NE(argv.slots[0], c.editor) << "slot 0 is a copy";
        free_editor_argv(&argv);
        EXPECT_EQ(argv.slots, nullptr);
        cJSON_Delete(request);
    }
}

// Editors that hand the file to a window already open get their option to
// stay, by the file name of their path, where the vim rule puts -f.
TEST(BuildEditorArgv, EditorsThatHandOffAreToldToStay)
{
    const argv_case cases[] = {
        {R"({})", "/usr/bin/gedit", {"/usr/bin/gedit", "--wait", file_slot}},
        {R"({})", "/usr/bin/kate", {"/usr/bin/kate", "--block", file_slot}},
        {R"({})", "/usr/bin/mousepad", {"/usr/bin/mousepad", "--disable-server", file_slot}},
        {R"({})", "gedit", {"gedit", "--wait", file_slot}},
        {R"({"args":["-s","+3"]})",
         "/opt/bin/kate",
         {"/opt/bin/kate", "-s", "+3", "--block", file_slot}},
        // Already asked for, wherever it stands: not twice.
        {R"({"args":["--wait"]})", "/usr/bin/gedit", {"/usr/bin/gedit", "--wait", file_slot}},
        {R"({"args":["--new-window","--wait"]})",
         "/usr/bin/gedit",
         {"/usr/bin/gedit", "--new-window", "--wait", file_slot}},
        {R"({"args":["--block","-n"]})",
         "/usr/bin/kate",
         {"/usr/bin/kate", "--block", "-n", file_slot}},
        {R"({"args":["--disable-server"]})",
         "/usr/bin/mousepad",
         {"/usr/bin/mousepad", "--disable-server", file_slot}},
        // Only the same option counts: another editor's, or a longer one, does not.
        {R"({"args":["--block"]})",
         "/usr/bin/gedit",
         {"/usr/bin/gedit", "--block", "--wait", file_slot}},
        {R"({"args":["--wait=1"]})",
         "/usr/bin/gedit",
         {"/usr/bin/gedit", "--wait=1", "--wait", file_slot}},
        {R"({"args":{"w":"--wait"}})", "/usr/bin/gedit", {"/usr/bin/gedit", "--wait", file_slot}},
        {R"({"args":[["--wait"]]})", "/usr/bin/gedit", {"/usr/bin/gedit", "--wait", file_slot}},
        // The whole file name must match.
        {R"({})", "/usr/bin/xgedit", {"/usr/bin/xgedit", file_slot}},
        {R"({})", "/usr/bin/gedit.sh", {"/usr/bin/gedit.sh", file_slot}},
        {R"({})", "/usr/bin/GEDIT", {"/usr/bin/GEDIT", file_slot}},
        {R"({})", "/opt/gedit/bin/editor", {"/opt/gedit/bin/editor", file_slot}},
        {R"({})", "/usr/bin/gedit/", {"/usr/bin/gedit/", file_slot}},
        {R"({})", "/usr/bin/kwrite", {"/usr/bin/kwrite", file_slot}},
        {R"({})", "/usr/bin/geany", {"/usr/bin/geany", file_slot}},
        {R"({})", "/usr/bin/subl", {"/usr/bin/subl", file_slot}},
        {R"({})", "/usr/bin/sublime", {"/usr/bin/sublime", file_slot}},
    };
    for (const argv_case &c : cases) {
        cJSON *request = cJSON_Parse(c.request);
        ASSERT_NE(request, nullptr) << c.request;
        editor_argv argv = build_editor_argv(request, c.editor);
        ASSERT_NE(argv.slots, nullptr) << c.request;
        EXPECT_EQ(argv.count, c.slots.size() + 1) << c.request << " " << c.editor;
        EXPECT_EQ(slots_of(argv), std::vector<std::string>(c.slots.begin(), c.slots.end()))
            << c.request << " " << c.editor;
        EXPECT_EQ(argv.slots[argv.count - 1], nullptr) << c.request;
        free_editor_argv(&argv);
        cJSON_Delete(request);
    }
}

TEST(BuildEditorArgv, RejectsARequestThatIsNotAnObject)
{
    for (const char *request : {"[]", "\"text\"", "7", "null"}) {
        cJSON *document = cJSON_Parse(request);
        captured_output err(2);
        editor_argv argv = build_editor_argv(document, "/usr/bin/gedit");
        EXPECT_EQ(err.take(), "Couldn't get editor arguments\n") << request;
        EXPECT_EQ(argv.slots, nullptr) << request;
        free_editor_argv(&argv);
        cJSON_Delete(document);
    }
}

} // namespace
