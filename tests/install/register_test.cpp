#include "browser_rows.hpp"
#include "command.hpp"
#include "fake_tools.hpp"
#include "manifest_reader.hpp"
#include "scratch_dir.hpp"

#include <gtest/gtest.h>

namespace {

const std::string host = ZURAZE_HOST_PATH;
const std::string file_name = std::string(ZURAZE_MANIFEST_NAME) + ".json";
const std::string help = std::string("Native Messaging Host for the Zuraze Browser Extension <") +
                         ZURAZE_HOMEPAGE_URL + ">";

// The stand-ins for the Flatpak tools come first on the command's PATH.
const fake_flatpak &flatpak_tools()
{
    static const fake_flatpak tools;
    return tools;
}

command_result run_register(const scratch_dir &home, std::vector<std::string> args,
                            const std::vector<std::string> &extra_env = {})
{
    args.insert(args.begin(), ZURAZE_REGISTER_COMMAND);
    std::vector<std::string> env = {"HOME=" + home.path(),
                                    "PATH=" + flatpak_tools().bin + ":/usr/bin:/bin"};
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    return run_command(args, env);
}

std::vector<std::string> added(const std::map<std::string, std::string> &before,
                               const std::map<std::string, std::string> &after)
{
    std::vector<std::string> paths;
    for (const auto &entry : after)
        if (!before.count(entry.first))
            paths.push_back(entry.first);
    return paths;
}

std::string registered_block(const std::string &browser, const std::string &file)
{
    return browser + ": registered\n  manifest: " + file +
           " (written by zuraze-host-register)\n  host: " + host +
           " (executable)\n  help: " + help + "\n";
}

std::string permission_advice(const std::string &app)
{
    return "The host must run outside the Flatpak sandbox to start your editor, which\n"
           "the sandbox cannot see. The wrapper does that through flatpak-spawn, which\n"
           "the sandbox allows only once you let it talk to org.freedesktop.Flatpak:\n"
           "  flatpak override --user --talk-name=org.freedesktop.Flatpak " +
           app +
           "\n"
           "That lets the app start any program outside its sandbox, a real weakening\n"
           "of it: run that only if you accept this.\n";
}

// A Flatpak browser gets a wrapper beside its manifest, which the manifest
// names, and the advice on the sandbox's permission.
TEST(Register, InstallWritesTheManifestOfEachBrowserThatIsThere)
{
    for (const browser_row &b : browser_rows) {
        SCOPED_TRACE(b.browser);
        scratch_dir home;
        home.make_dir(b.config);
        auto before = tree_snapshot(home.path());
        std::string hosts = std::string("/") + b.hosts;
        std::string file = hosts + "/" + file_name;
        std::string wrapper = hosts + "/" + ZURAZE_MANIFEST_NAME + "-wrapper";
        bool flatpak = *b.app;

        for (int round = 0; round < 2; round++) {
            command_result run = run_register(home, {"install"});
            EXPECT_EQ(run.status, 0) << run.err;
            std::string out = std::string(b.browser) + ": wrote " + home.path() + file + "\n";
            if (flatpak)
                out = std::string(b.browser) + ": wrote " + home.path() + wrapper + "\n" + out +
                      permission_advice(b.app);
            EXPECT_EQ(run.out, out);
            EXPECT_EQ(run.err, "");
        }
        expect_manifest(read_manifest(home.path() + file), b.browser,
                        flatpak ? home.path() + wrapper : host);
        auto after = tree_snapshot(home.path());
        std::vector<std::string> written = {hosts, file};
        if (flatpak) {
            written.insert(written.begin() + 1, wrapper);
            EXPECT_EQ(after[wrapper],
                      "file 755 #!/bin/sh\n# Written by zuraze-host-register: starts zuraze-host "
                      "outside the Flatpak sandbox.\nexec flatpak-spawn --host --watch-bus '" +
                          host + "' \"$@\"\n");
        }
        EXPECT_EQ(added(before, after), written);
    }
}

// The wrapper hands the browser's arguments to the host outside, through the
// flatpak-spawn that the sandbox's PATH finds; once the app may do that,
// install no longer gives the advice, and uninstall takes the wrapper too.
TEST(Register, AFlatpakWrapperStartsTheHostOutside)
{
    scratch_dir home;
    const std::string app = "org.chromium.Chromium";
    home.make_dir(".var/app/" + app + "/config/chromium");
    auto before = tree_snapshot(home.path());
    std::string hosts = home.path() + "/.var/app/" + app + "/config/chromium/NativeMessagingHosts";
    std::string wrapper = hosts + "/" + ZURAZE_MANIFEST_NAME + "-wrapper";
    fake_flatpak tools;
    tools.grant(app);
    command_result run = run_register(home, {"install", "chromium-flatpak"},
                                      {"PATH=" + tools.bin + ":/usr/bin:/bin"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "chromium-flatpak: wrote " + wrapper + "\nchromium-flatpak: wrote " + hosts +
                           "/" + file_name + "\n");
    EXPECT_EQ(tools.log(), "info --show-permissions " + app + "\n");

    run = run_command({wrapper, "-h", "chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
                      {"PATH=" + tools.bin + ":/usr/bin:/bin"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, help + "\n");
    EXPECT_EQ(tools.spawn_log(),
              "--host\n--watch-bus\n" + host +
                  "\n-h\nchrome-extension://abcdefghijklmnopabcdefghijklmnop/\n");

    run = run_register(home, {"status", "chromium-flatpak"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "chromium-flatpak: registered\n  manifest: " + hosts + "/" + file_name +
                           " (written by zuraze-host-register)\n  wrapper: " + wrapper +
                           "\n  host: " + host + " (executable)\n  help: " + help + "\n");

    home.write_file(".var/app/" + app + "/config/chromium/NativeMessagingHosts/other.json", "{}");
    run = run_register(home, {"uninstall"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "chromium-flatpak: removed " + hosts + "/" + file_name +
                           "\nchromium-flatpak: removed " + wrapper + "\n");
    auto after = tree_snapshot(home.path());
    EXPECT_EQ(added(before, after),
              (std::vector<std::string>{
                  "/.var/app/" + app + "/config/chromium/NativeMessagingHosts",
                  "/.var/app/" + app + "/config/chromium/NativeMessagingHosts/other.json"}));
}

// Some browsers present, one of them with another host's manifest already
// there: status shows each, and uninstall leaves the tree as it was.
TEST(Register, StatusAndUninstallFollowInstall)
{
    scratch_dir home;
    home.make_dir(".mozilla/firefox");
    home.make_dir(".config/chromium/NativeMessagingHosts");
    home.write_file(".config/chromium/NativeMessagingHosts/other.json", "{}");
    home.make_dir(".config/vivaldi");
    auto before = tree_snapshot(home.path());

    auto manifest_of = [&](const char *hosts) {
        return home.path() + "/" + hosts + "/" + file_name;
    };
    const std::string firefox = manifest_of(".mozilla/native-messaging-hosts");
    const std::string chromium = manifest_of(".config/chromium/NativeMessagingHosts");
    const std::string vivaldi = manifest_of(".config/vivaldi/NativeMessagingHosts");

    command_result run = run_register(home, {"install"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "firefox: wrote " + firefox + "\nchromium: wrote " + chromium +
                           "\nvivaldi: wrote " + vivaldi + "\n");

    run = run_register(home, {"status"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::string status;
    for (const browser_row &b : browser_rows) {
        std::string browser = b.browser;
        if (browser == "firefox" || browser == "chromium" || browser == "vivaldi")
            status += registered_block(browser, manifest_of(b.hosts));
        else
            status += browser + ": not installed (no " + home.path() + "/" + b.config + ")\n";
    }
    EXPECT_EQ(run.out, status);

    run = run_register(home, {"uninstall"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "firefox: removed " + firefox + "\nchromium: removed " + chromium +
                           "\nvivaldi: removed " + vivaldi + "\n");
    EXPECT_EQ(tree_snapshot(home.path()), before);

    run = run_register(home, {"status", "chromium"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "chromium: not registered\n  manifest: none at " + chromium + "\n");
}

TEST(Register, TheChromiumFamilyFollowsItsConfigurationHome)
{
    struct location_case {
        const char *name;
        std::vector<std::string> env; // relative to HOME
        std::vector<std::string> dirs;
        std::string browser;
        std::vector<std::string> written; // new paths, in order
    };
    const location_case cases[] = {
        {"XDG_CONFIG_HOME",
         {"XDG_CONFIG_HOME=xdg"},
         {"xdg/chromium", ".config/chromium"},
         "chromium",
         {"/xdg/chromium/NativeMessagingHosts", "/xdg/chromium/NativeMessagingHosts/" + file_name}},
        {"CHROME_CONFIG_HOME before XDG_CONFIG_HOME",
         {"XDG_CONFIG_HOME=xdg", "CHROME_CONFIG_HOME=cch"},
         {"xdg/google-chrome", "cch/google-chrome"},
         "google-chrome",
         {"/cch/google-chrome/NativeMessagingHosts",
          "/cch/google-chrome/NativeMessagingHosts/" + file_name}},
        {"Firefox with its profiles under XDG_CONFIG_HOME reads ~/.mozilla",
         {"XDG_CONFIG_HOME=xdg"},
         {"xdg/mozilla"},
         "firefox",
         {"/.mozilla", "/.mozilla/native-messaging-hosts",
          "/.mozilla/native-messaging-hosts/" + file_name}},
    };
    for (const location_case &c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir home;
        for (const std::string &dir : c.dirs)
            home.make_dir(dir);
        std::vector<std::string> env;
        for (const std::string &setting : c.env) {
            size_t eq = setting.find('=');
            env.push_back(setting.substr(0, eq + 1) + home.path() + "/" + setting.substr(eq + 1));
        }
        auto before = tree_snapshot(home.path());
        command_result run = run_register(home, {"install"}, env);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, c.browser + ": wrote " + home.path() + c.written.back() + "\n");
        EXPECT_EQ(added(before, tree_snapshot(home.path())), c.written);
        expect_manifest(read_manifest(home.path() + c.written.back()), c.browser, host);
    }
}

TEST(Register, StatusTellsWhatIsWrongWithAManifest)
{
    struct status_case {
        const char *name;
        std::string path_member; // the manifest's "path" line, or nothing
        int status;
        std::string report; // after the manifest line
    };
    scratch_dir home;
    std::string hosts = home.make_dir(".config/chromium/NativeMessagingHosts");
    std::string plain = home.write_file("plain", "#!/bin/sh\n", 0644);
    std::string other = home.write_file("other", "#!/bin/sh\necho hello\n", 0755);
    const status_case cases[] = {
        {"the host is missing", "\"path\": \"" + home.path() + "/gone\",", 1,
         "  host: " + home.path() + "/gone (missing)\n"},
        {"the host is not executable", "\"path\": \"" + plain + "\",", 1,
         "  host: " + plain + " (not executable)\n"},
        {"the program is not the host", "\"path\": \"" + other + "\",", 1,
         "  host: " + other + " (executable)\n  help: no answer from the host to -h\n"},
        {"no path", "", 1, "  host: ? (no path in the manifest)\n"},
        {"the host answers", "\"path\": \"" + host + "\",", 0,
         "  host: " + host + " (executable)\n  help: " + help + "\n"},
    };
    std::string file = hosts + "/" + file_name;
    for (const status_case &c : cases) {
        SCOPED_TRACE(c.name);
        home.write_file(".config/chromium/NativeMessagingHosts/" + file_name,
                        "{\"name\": \"zuraze_host\", " + c.path_member + " \"type\": \"stdio\"}\n");
        command_result run = run_register(home, {"status", "chromium"});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, std::string("chromium: ") + (c.status ? "broken" : "registered") +
                               "\n  manifest: " + file +
                               " (not written by zuraze-host-register)\n" + c.report);
    }
}

TEST(Register, AManifestOfAnotherIsReplacedOnlyWhenForced)
{
    scratch_dir home;
    home.make_dir(".mozilla");
    home.make_dir(".config/chromium/NativeMessagingHosts");
    std::string foreign = home.write_file(".config/chromium/NativeMessagingHosts/" + file_name,
                                          "{\"name\": \"zuraze_host\", \"path\": \"/elsewhere\"}");
    auto before = tree_snapshot(home.path());

    command_result run = run_register(home, {"install"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("chromium: " + foreign + " exists and was not written by"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("--force"), std::string::npos) << run.err;
    EXPECT_EQ(tree_snapshot(home.path()), before);

    run = run_register(home, {"uninstall"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "chromium: left " + foreign + " alone: zuraze-host-register did not write it\n");
    EXPECT_EQ(tree_snapshot(home.path()), before);

    run = run_register(home, {"--force", "install"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::string firefox = home.path() + "/.mozilla/native-messaging-hosts/" + file_name;
    EXPECT_EQ(run.out, "firefox: wrote " + firefox + "\nchromium: replaced " + foreign +
                           ", which zuraze-host-register had not written\n");
    expect_manifest(read_manifest(foreign), "chromium", host);
}

TEST(Register, ADirectoryInTheManifestsPlaceIsNeverReplaced)
{
    scratch_dir home;
    home.make_dir(".mozilla");
    home.make_dir(".config/chromium/NativeMessagingHosts/" + file_name);
    auto before = tree_snapshot(home.path());
    command_result run = run_register(home, {"--force", "install"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("is a directory"), std::string::npos) << run.err;
    EXPECT_EQ(tree_snapshot(home.path()), before);
}

TEST(Register, BadInputIsRefusedAndTouchesNothing)
{
    scratch_dir home;
    home.make_dir(".mozilla");
    home.make_dir(".config/chromium");
    ASSERT_EQ(run_register(home, {"install", "firefox"}).status, 0);
    std::string plain = home.write_file("plain-host", "#!/bin/sh\n", 0644);
    auto before = tree_snapshot(home.path());

    struct bad_case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const bad_case cases[] = {
        {{"install", "netscape"}, 2, "unknown browser 'netscape'"},
        {{"uninstall", "firefox", "netscape"}, 2, "unknown browser 'netscape'"},
        {{"doctor", "netscape"}, 2, "unknown browser 'netscape'"},
        {{"--json", "status"}, 2, "--json goes with doctor only"},
        {{"status", "Firefox"}, 2, "unknown browser 'Firefox'"},
        {{"install", "brave"}, 1, "brave: not found (no " + home.path() + "/.config/BraveSoftware"},
        {{"--host", home.path() + "/none/zuraze-host", "install"}, 1, "no host at " + home.path()},
        {{"--host", plain, "install"}, 1, "the host at " + plain + " is not executable"},
        {{"--host", "/bin/true", "install"}, 1, "/bin/true does not answer -h"},
        {{"reinstall"}, 2, "unknown command 'reinstall'"},
        {{}, 2, "no command given"},
        {{"--frob", "install"}, 2, "unknown option '--frob'"},
        {{"install", "--host"}, 2, "unknown browser '--host'"},
        {{"--host"}, 2, "--host needs a value"},
        {{"manifest"}, 2, "manifest takes one browser"},
        {{"--name", "Zuraze", "install"}, 2, "invalid manifest name 'Zuraze'"},
        {{"--name", "zuraze..host", "install"}, 2, "invalid manifest name"},
        {{"--name", ".zuraze", "install"}, 2, "invalid manifest name"},
        {{"--chromium-id", "abc", "install"}, 2, "invalid Chromium extension ID 'abc'"},
        {{"--chromium-id", "qbcdefghijklmnopabcdefghijklmnop", "install"},
         2,
         "invalid Chromium extension ID"},
        {{"--firefox-id", "zuraze", "install"}, 2, "invalid Firefox extension ID 'zuraze'"},
        {{"--firefox-id", "{1234}", "install"}, 2, "invalid Firefox extension ID"},
        {{"--firefox-id", "", "install"}, 2, "invalid Firefox extension ID ''"},
        {{"--firefox-id", "a@b c@d", "install"}, 2, "invalid Firefox extension ID 'a@b c@d'"},
        {{"--chromium-id", "", "doctor"}, 2, "invalid Chromium extension ID ''"},
    };
    for (const bad_case &c : cases) {
        std::string trace;
        for (const std::string &arg : c.args)
            trace += arg + " ";
        SCOPED_TRACE(trace);
        command_result run = run_register(home, c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("zuraze-host-register: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(tree_snapshot(home.path()), before);
    }
}

TEST(Register, InstallWithoutAnyBrowserSaysSo)
{
    scratch_dir home;
    command_result run = run_register(home, {"install"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no supported browser found"), std::string::npos) << run.err;
    EXPECT_EQ(tree_snapshot(home.path()), (std::map<std::string, std::string>{}));
}

// The manifest command is the one rendering behind install and cmake --install.
TEST(Register, ManifestRendersAnyNameIdsAndPath)
{
    scratch_dir home;
    const std::string odd_path = "/opt/a \"quoted\" \\ dir/zuraze-host";
    command_result run =
        run_register(home, {"--host", odd_path, "--name", "org.zuraze_test.host2", "--chromium-id",
                            "abcdefghijklmnopabcdefghijklmnop", "--chromium-id",
                            "ponmlkjihgfedcbaponmlkjihgfedcba", "manifest", "brave"});
    EXPECT_EQ(run.status, 0) << run.err;
    manifest m = parse_manifest(run.out);
    ASSERT_TRUE(m.parsed) << run.out;
    EXPECT_EQ(m.name, "org.zuraze_test.host2");
    EXPECT_EQ(m.path, odd_path);
    EXPECT_EQ(m.allow_key, "allowed_origins");
    EXPECT_EQ(m.allowed,
              (std::vector<std::string>{"chrome-extension://abcdefghijklmnopabcdefghijklmnop/",
                                        "chrome-extension://ponmlkjihgfedcbaponmlkjihgfedcba/"}));

    run = run_register(home, {"--host", "/usr/bin/zuraze-host", "--firefox-id",
                              "{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d}", "--firefox-id",
                              "tester@zuraze.example", "manifest", "librewolf"});
    EXPECT_EQ(run.status, 0) << run.err;
    m = parse_manifest(run.out);
    EXPECT_EQ(m.allow_key, "allowed_extensions");
    EXPECT_EQ(m.allowed, (std::vector<std::string>{"{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d}",
                                                   "tester@zuraze.example"}));

    run = run_register(home, {"--host", "/usr/bin/zuraze-host", "manifest", "firefox"});
    expect_manifest(parse_manifest(run.out), "firefox", "/usr/bin/zuraze-host");
}

TEST(Register, HelpListsEveryBrowserAndCommand)
{
    scratch_dir home;
    command_result run = run_register(home, {"--help"});
    EXPECT_EQ(run.status, 0);
    std::string words = " ";
    for (char c : run.out)
        words += c == '\n' || c == '|' ? ' ' : c;
    for (const browser_row &b : browser_rows)
        EXPECT_NE(words.find(std::string(" ") + b.browser + " "), std::string::npos) << b.browser;
    for (const char *command : {"install", "uninstall", "status", "doctor", "manifest"})
        EXPECT_NE(words.find(std::string(" ") + command + " "), std::string::npos) << command;
}

} // namespace
