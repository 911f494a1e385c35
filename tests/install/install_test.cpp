#include "command.hpp"
#include "manifest_reader.hpp"
#include "scratch_dir.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace {

const std::string file_name = std::string(ZURAZE_MANIFEST_NAME) + ".json";

// A directory as the build gives it: absolute, or relative to the prefix.
std::string below_prefix(const std::string &prefix, const std::string &dir)
{
    return dir[0] == '/' ? dir : prefix + "/" + dir;
}

// The system-wide manifests that the build installs: browser, then directory.
std::vector<std::pair<std::string, std::string>> system_manifests()
{
    std::vector<std::pair<std::string, std::string>> entries;
    std::istringstream list(ZURAZE_SYSTEM_MANIFESTS);
    for (std::string entry; std::getline(list, entry, ',');) {
        size_t bar = entry.find('|');
        entries.emplace_back(entry.substr(0, bar), entry.substr(bar + 1));
    }
    return entries;
}

// What a packager does: install into a staging directory, with the prefix
// given at install time, which the manifests' path must follow. Naming the
// one component keeps the user's install_manifest.txt, the record of a real
// install, from being overwritten.
TEST(StagedInstall, GivesEveryFileWithManifestsForTheInstalledHost)
{
    const char *path = getenv("PATH");
    for (const std::string prefix : {"/usr", "/opt/zuraze"}) {
        SCOPED_TRACE(prefix);
        scratch_dir stage;
        command_result run = run_command(
            {ZURAZE_CMAKE_COMMAND, "--install", ZURAZE_BUILD_DIR, "--prefix", prefix, "--component",
             "Unspecified"},
            {"DESTDIR=" + stage.path(), std::string("PATH=") + (path ? path : "/usr/bin:/bin")});
        ASSERT_EQ(run.status, 0) << run.out << run.err;

        const std::string bindir = below_prefix(prefix, ZURAZE_INSTALL_BINDIR);
        const std::string host = bindir + "/zuraze-host";
        std::map<std::string, std::string> expected_files = {
            {host, "755"},
            {bindir + "/zuraze-host-register", "755"},
            {below_prefix(prefix, ZURAZE_INSTALL_LIBEXECDIR) +
                 "/zuraze-host/zuraze-host-read-manifest",
             "755"},
            {below_prefix(prefix, ZURAZE_INSTALL_MANDIR) + "/man1/zuraze-host.1", "644"},
            {below_prefix(prefix, ZURAZE_INSTALL_MANDIR) + "/man1/zuraze-host-register.1", "644"},
        };
        for (const auto &entry : system_manifests())
            expected_files[below_prefix(prefix, entry.second) + "/" + file_name] = "644";

        std::map<std::string, std::string> files; // path and mode
        for (const auto &entry : tree_snapshot(stage.path()))
            if (entry.second.rfind("file ", 0) == 0)
                files[entry.first] = entry.second.substr(5, entry.second.find(' ', 5) - 5);
        EXPECT_EQ(files, expected_files);

        for (const auto &entry : system_manifests()) {
            std::string file = stage.path() + below_prefix(prefix, entry.second) + "/" + file_name;
            expect_manifest(read_manifest(file), entry.first, host);
        }

        // The installed command finds the installed host beside it.
        scratch_dir home;
        home.make_dir(".mozilla");
        run = run_command({stage.path() + bindir + "/zuraze-host-register", "install"},
                          {"HOME=" + home.path(), "PATH=/usr/bin:/bin"});
        EXPECT_EQ(run.status, 0) << run.err;
        expect_manifest(
            read_manifest(home.path() + "/.mozilla/native-messaging-hosts/" + file_name), "firefox",
            stage.path() + host);

        // Its doctor finds the installed manifest reader.
        run = run_command({stage.path() + bindir + "/zuraze-host-register", "doctor", "firefox"},
                          {"HOME=" + home.path(), "PATH=/usr/bin:/bin"});
        EXPECT_NE(run.out.find("PASS firefox manifest: "), std::string::npos) << run.out << run.err;
        EXPECT_NE(run.out.find("PASS firefox round trip: "), std::string::npos) << run.out;
    }
}

} // namespace
