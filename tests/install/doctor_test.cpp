#include "command.hpp"
#include "fake_tools.hpp"
#include "scratch_dir.hpp"

#include <cJSON.h>
#include <functional>
#include <gtest/gtest.h>
#include <regex>

namespace {

const std::string host = ZURAZE_HOST_PATH;
const std::string file_name = std::string(ZURAZE_MANIFEST_NAME) + ".json";
const std::string help_script = "#!/bin/sh\n"
                                "case $1 in -h) echo 'Native Messaging Host for the Zuraze "
                                "Browser Extension <x>'; exit 0 ;; esac\n";

// A fake home, the Flatpak stand-ins, and a PATH on which the first default
// editor is a stand-in gvim.
struct doctor_setup {
    scratch_dir home;
    fake_flatpak tools;
    scratch_dir programs;
    std::string editors = programs.make_dir("editors");
    std::string path;

    doctor_setup()
    {
        programs.write_file("editors/gvim", "#!/bin/sh\n", 0755);
        path = tools.bin + ":" + editors + ":/usr/bin:/bin";
    }

    command_result run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), ZURAZE_REGISTER_COMMAND);
        return run_command(args, {"HOME=" + home.path(), "PATH=" + path});
    }

    std::string chromium_file() const
    {
        return home.path() + "/.config/chromium/NativeMessagingHosts/" + file_name;
    }

    // The manifest that install writes for browser, for host_path.
    std::string manifest(const std::string &browser, const std::string &host_path) const
    {
        return run({"--host", host_path, "manifest", browser}).out;
    }

    void write_chromium(const std::string &content) const
    {
        home.make_dir(".config/chromium/NativeMessagingHosts");
        home.write_file(".config/chromium/NativeMessagingHosts/" + file_name, content);
    }

    // The chromium manifest for the built host with one text replaced.
    void write_chromium_changed(const std::string &from, const std::string &to) const
    {
        std::string text = manifest("chromium", host);
        size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << text;
        write_chromium(text.replace(at, from.size(), to));
    }
};

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

bool has_line(const std::string &out, const std::string &line)
{
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

struct broken_case {
    const char *name;
    std::function<void(doctor_setup &)> prepare;
    std::vector<std::string> args;
    // @H is the home directory, @F the chromium manifest, @P the PATH.
    std::string line;
    int status;
};

const std::string fix = "; run: zuraze-host-register install chromium";

const broken_case broken_cases[] = {
    {"no manifest",
     [](doctor_setup &s) { s.home.make_dir(".config/chromium"); },
     {"doctor"},
     "FAIL chromium manifest: no manifest at @F, where chromium looks" + fix,
     1},
    {"the host moved since an older install",
     [](doctor_setup &s) {
         s.home.make_dir("old");
         s.home.make_dir("old");
         s.home.write_file("old/zuraze-host", read_file(host), 0755);
         s.home.make_dir(".config/chromium");
         ASSERT_EQ(s.run({"--host", s.home.path() + "/old/zuraze-host", "install"}).status, 0);
         ASSERT_EQ(remove((s.home.path() + "/old/zuraze-host").c_str()), 0);
     },
     {"doctor"},
     "FAIL chromium host: @H/old/zuraze-host does not exist: it was moved or removed since it "
     "was registered" +
         fix,
     1},
    {"a host that is not executable",
     [](doctor_setup &s) {
         s.home.write_file("plain", help_script, 0644);
         s.write_chromium(s.manifest("chromium", s.home.path() + "/plain"));
     },
     {"doctor", "chromium"},
     "FAIL chromium host: @H/plain is not executable" + fix,
     1},
    {"a relative path",
     [](doctor_setup &s) { s.write_chromium_changed(host, "zuraze-host"); },
     {"doctor"},
     "FAIL chromium manifest: \"path\" in @F is \"zuraze-host\", which is not absolute" + fix,
     1},
    {"a name other than the file's",
     [](doctor_setup &s) {
         s.write_chromium_changed("\"name\": \"zuraze_host\"", "\"name\": \"other_host\"");
     },
     {"doctor"},
     "FAIL chromium manifest: @F holds the name \"other_host\", but the browser opens it as "
     "\"zuraze_host\": the file name must be the name plus .json" +
         fix,
     1},
    // Before the build's own origins, whichever they are.
    {"one bad origin beside good ones",
     [](doctor_setup &s) {
         s.write_chromium_changed("\"allowed_origins\": [",
                                  "\"allowed_origins\": [\"chrome-extension://"
                                  "abcdefghijklmnopabcdefghijklmnoq\", ");
     },
     {"doctor"},
     "FAIL chromium allow-list: \"allowed_origins\" in @F holds "
     "\"chrome-extension://abcdefghijklmnopabcdefghijklmnoq\", which is not chrome-extension:// "
     "followed by 32 letters from a to p and a slash; one such entry makes the browser reject "
     "the whole manifest" +
         fix,
     1},
    {"the Firefox family's key, in a manifest of another",
     [](doctor_setup &s) {
         s.write_chromium("{\"name\": \"zuraze_host\", \"path\": \"" + host +
                          "\", \"type\": \"stdio\", \"allowed_extensions\": "
                          "[\"zuraze@zuraze.example\"]}");
     },
     {"doctor"},
     "FAIL chromium allow-list: @F has \"allowed_extensions\", the Firefox family's key, where "
     "chromium reads \"allowed_origins\"; run: zuraze-host-register --force install chromium",
     1},
    {"invalid JSON",
     [](doctor_setup &s) {
         s.write_chromium_changed("\"type\": \"stdio\",", "\"type\": \"stdio\",,");
     },
     {"doctor"},
     "FAIL chromium manifest: @F is not valid JSON (invalid JSON near \"   \"allowed_origins\": [  "
     "   \"chrome-exte\")" +
         fix,
     1},
    {"text after the manifest",
     [](doctor_setup &s) { s.write_chromium(s.manifest("chromium", host) + "{}\n"); },
     {"doctor"},
     "FAIL chromium manifest: @F is not valid JSON (invalid JSON near \"{} \")" + fix,
     1},
    {"an extension that the manifest does not allow",
     [](doctor_setup &s) {
         s.home.make_dir(".config/chromium");
         ASSERT_EQ(s.run({"install"}).status, 0);
     },
     {"--chromium-id", "ponmlkjihgfedcbaponmlkjihgfedcba", "doctor"},
     "FAIL chromium allow-list: \"allowed_origins\" in @F lacks "
     "chrome-extension://ponmlkjihgfedcbaponmlkjihgfedcba/, so that extension cannot start the "
     "host; run: zuraze-host-register --chromium-id 'ponmlkjihgfedcbaponmlkjihgfedcba' install "
     "chromium",
     1},
    {"a program that answers -h otherwise",
     [](doctor_setup &s) {
         s.home.write_file("other", "#!/bin/sh\necho hello\n", 0755);
         s.write_chromium(s.manifest("chromium", s.home.path() + "/other"));
     },
     {"doctor"},
     "FAIL chromium host: @H/other is not zuraze-host: it answers -h with \"hello\" (status 0)" +
         fix,
     1},
    {"a host that hangs",
     [](doctor_setup &s) {
         s.home.write_file("hangs", "#!/bin/sh\nsleep 600\n", 0755);
         s.write_chromium(s.manifest("chromium", s.home.path() + "/hangs"));
     },
     {"doctor"},
     "FAIL chromium host: @H/hangs did not answer -h within 10 seconds" + fix,
     1},
    {"a host whose round trip fails",
     [](doctor_setup &s) {
         s.home.write_file("fails", help_script + "echo 'Editor not found' >&2\nexit 1\n", 0755);
         s.write_chromium(s.manifest("chromium", s.home.path() + "/fails"));
     },
     {"doctor"},
     "FAIL chromium round trip: @H/fails, started as chromium starts it, exited with status 1: "
     "no response came; its standard error: Editor not found",
     1},
    {"no editor on PATH",
     [](doctor_setup &s) {
         s.home.make_dir(".mozilla");
         ASSERT_EQ(s.run({"install"}).status, 0);
         s.path = s.tools.bin + ":" + tools_without_editors(s.programs);
     },
     {"doctor"},
     "FAIL editor: none of gvim sublime gedit kate mousepad leafpad is on PATH (@P), so a "
     "request that names no editor fails with \"Editor not found\": install one of them, or name "
     "your editor in the extension's options (the browser's PATH may not be your shell's)",
     1},
    {"an editor that the host does not make wait",
     [](doctor_setup &s) {
         s.home.make_dir(".mozilla");
         ASSERT_EQ(s.run({"install"}).status, 0);
         s.programs.make_dir("more");
         s.programs.write_file("more/sublime", "#!/bin/sh\n", 0755);
         s.path =
             s.tools.bin + ":" + s.programs.path() + "/more:" + tools_without_editors(s.programs);
     },
     {"doctor"},
     "WARN editor: a request that names no editor starts sublime, on this PATH: "
     "@E/more/sublime /tmp/zuraze_XXXXXXXX.txt; sublime hands the file to a window already open "
     "and returns at once, which ends the edit: add --wait to the editor's arguments in the "
     "extension's options",
     0},
    {"an editor that the host makes wait",
     [](doctor_setup &s) {
         s.home.make_dir(".mozilla");
         ASSERT_EQ(s.run({"install"}).status, 0);
         s.programs.make_dir("more");
         s.programs.write_file("more/gedit", "#!/bin/sh\n", 0755);
         s.path =
             s.tools.bin + ":" + s.programs.path() + "/more:" + tools_without_editors(s.programs);
     },
     {"doctor"},
     "PASS editor: a request that names no editor starts gedit, on this PATH: "
     "@E/more/gedit --wait /tmp/zuraze_XXXXXXXX.txt; gedit hands the file to a window already "
     "open, and the host adds --wait to wait for it",
     0},
    {"a Flatpak browser without its wrapper",
     [](doctor_setup &s) {
         s.home.make_dir(".var/app/org.chromium.Chromium/config/chromium");
         s.tools.grant("org.chromium.Chromium");
         ASSERT_EQ(s.run({"install"}).status, 0);
         ASSERT_EQ(remove((s.home.path() +
                           "/.var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts/"
                           "zuraze_host-wrapper")
                              .c_str()),
                   0);
     },
     {"doctor"},
     "FAIL chromium-flatpak sandbox: no wrapper at "
     "@H/.var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts/zuraze_host-wrapper, "
     "which @H/.var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts/"
     "zuraze_host.json names; run: zuraze-host-register install chromium-flatpak",
     1},
    {"a Flatpak browser without the permission",
     [](doctor_setup &s) {
         s.home.make_dir(".var/app/org.chromium.Chromium/config/chromium");
         ASSERT_EQ(s.run({"install"}).status, 0);
     },
     {"doctor"},
     "FAIL chromium-flatpak sandbox: org.chromium.Chromium may not start programs outside its "
     "sandbox, which the host must do to start your editor; if you accept that real weakening of "
     "the sandbox, run: flatpak override --user --talk-name=org.freedesktop.Flatpak "
     "org.chromium.Chromium",
     1},
    {"the Firefox snap",
     [](doctor_setup &s) {
         s.home.make_dir(".mozilla");
         s.home.make_dir("snap/firefox/common");
         ASSERT_EQ(s.run({"install"}).status, 0);
     },
     {"doctor"},
     "PASS firefox sandbox: Firefox is a snap here: it reaches hosts in "
     "@H/.mozilla/native-messaging-hosts through a portal that asks you once; if you refused or "
     "missed that prompt, run: flatpak permission-set webextensions zuraze_host snap.firefox yes",
     0},
    {"a named browser that is not there",
     [](doctor_setup &s) { s.home.make_dir(".mozilla"); },
     {"doctor", "brave"},
     "FAIL brave manifest: brave is not installed for you (no "
     "@H/.config/BraveSoftware/Brave-Browser); start it once, then run: zuraze-host-register "
     "install brave",
     1},
    {"no browser at all",
     [](doctor_setup &) {},
     {"doctor"},
     "FAIL browsers: no supported browser found for you (looked for: firefox librewolf waterfox "
     "floorp chromium chromium-snap google-chrome google-chrome-beta google-chrome-unstable "
     "google-chrome-canary microsoft-edge microsoft-edge-beta microsoft-edge-dev brave brave-beta "
     "brave-nightly vivaldi vivaldi-snapshot opera firefox-flatpak librewolf-flatpak "
     "chromium-flatpak google-chrome-flatpak brave-flatpak microsoft-edge-flatpak); start yours "
     "once, then run: zuraze-host-register install",
     1},
};

TEST(Doctor, NamesEachBrokenSetupInOneLine)
{
    for (const broken_case &c : broken_cases) {
        SCOPED_TRACE(c.name);
        doctor_setup s;
        c.prepare(s);
        command_result run = s.run(c.args);
        std::string line = replace_all(c.line, "@F", s.chromium_file());
        line = replace_all(line, "@H", s.home.path());
        line = replace_all(line, "@P", s.path);
        line = replace_all(line, "@E", s.programs.path());
        EXPECT_TRUE(has_line(run.out, line)) << "expected: " << line << "\nin:\n" << run.out;
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(std::regex_search(run.out, std::regex("\nsummary: [0-9]+ PASS, [0-9]+ WARN, "
                                                          "[0-9]+ FAIL\n$")))
            << run.out;
    }
}

// What a user sees after install: every check passes, in text and in JSON.
TEST(Doctor, PassesForTheBuiltHostRegisteredWithEveryKindOfBrowser)
{
    doctor_setup s;
    s.home.make_dir(".mozilla");
    s.home.make_dir(".config/google-chrome-beta");
    s.home.make_dir(".var/app/org.mozilla.firefox/.mozilla");
    s.tools.grant("org.mozilla.firefox");
    ASSERT_EQ(s.run({"install"}).status, 0);

    command_result run = s.run({"doctor"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.err, "");
    const std::string tmp = "/tmp/zuraze_XXXXXXXX.txt";
    // One response for the save and one at the exit, which may come as one;
    // a build that watches by polling also sends the file at its first look.
    bool round_trip_passed = false;
    for (const char *responses : {"1 response", "2 responses", "3 responses"})
        round_trip_passed = round_trip_passed ||
                            has_line(run.out, "PASS firefox round trip: " + host +
                                                  ", started as firefox starts it, sent the saved "
                                                  "text back byte for byte (" +
                                                  responses + ") and exited 0");
    EXPECT_TRUE(round_trip_passed) << run.out;
    EXPECT_TRUE(has_line(run.out, "PASS editor: a request that names no editor starts gvim, on "
                                  "this PATH: " +
                                      s.editors + "/gvim -f " + tmp))
        << run.out;
    std::vector<std::string> checks;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("summary: ", 0) != 0)
            checks.push_back(line.substr(0, line.find(':')));
    EXPECT_EQ(checks, (std::vector<std::string>{
                          "PASS firefox manifest", "PASS firefox allow-list", "PASS firefox host",
                          "PASS firefox round trip", "PASS google-chrome-beta manifest",
                          "PASS google-chrome-beta allow-list", "PASS google-chrome-beta host",
                          "PASS google-chrome-beta round trip", "PASS firefox-flatpak manifest",
                          "PASS firefox-flatpak allow-list", "PASS firefox-flatpak sandbox",
                          "PASS firefox-flatpak sandbox", "PASS firefox-flatpak host",
                          "PASS firefox-flatpak round trip", "PASS editor"}));
    EXPECT_TRUE(has_line(run.out, "summary: 15 PASS, 0 WARN, 0 FAIL")) << run.out;

    command_result json = s.run({"--json", "doctor", "google-chrome-beta"});
    EXPECT_EQ(json.status, 0) << json.out;
    cJSON *document = cJSON_Parse(json.out.c_str());
    ASSERT_TRUE(cJSON_IsObject(document)) << json.out;
    const cJSON *list = cJSON_GetObjectItemCaseSensitive(document, "checks");
    ASSERT_EQ(cJSON_GetArraySize(list), 5) << json.out;
    const cJSON *first = cJSON_GetArrayItem(list, 0);
    EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(first, "browser")),
                 "google-chrome-beta");
    EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(first, "check")),
                 "manifest");
    EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(first, "status")), "PASS");
    EXPECT_EQ(std::string(cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(first, "message"))),
              s.home.path() + "/.config/google-chrome-beta/NativeMessagingHosts/" + file_name +
                  " names the host " + host);
    const cJSON *editor = cJSON_GetArrayItem(list, 4);
    EXPECT_TRUE(cJSON_IsNull(cJSON_GetObjectItemCaseSensitive(editor, "browser")));
    const cJSON *summary = cJSON_GetObjectItemCaseSensitive(document, "summary");
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(summary, "PASS")->valueint, 5);
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(summary, "FAIL")->valueint, 0);
    cJSON_Delete(document);
}

// A manifest of an older install names a host that is gone: install, with
// the host beside the command, puts it right.
TEST(Doctor, InstallRepairsWhatAnOlderInstallLeft)
{
    doctor_setup s;
    s.home.make_dir("old");
    s.home.write_file("old/zuraze-host", read_file(host), 0755);
    s.home.make_dir(".config/chromium");
    ASSERT_EQ(s.run({"--host", s.home.path() + "/old/zuraze-host", "install"}).status, 0);
    ASSERT_EQ(remove((s.home.path() + "/old/zuraze-host").c_str()), 0);
    ASSERT_EQ(s.run({"doctor"}).status, 1);
    command_result run = s.run({"install"});
    EXPECT_EQ(run.out, "chromium: wrote " + s.chromium_file() + "\n");
    run = s.run({"doctor"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has_line(run.out, "summary: 5 PASS, 0 WARN, 0 FAIL")) << run.out;
}

} // namespace
