#include "fake_tools.hpp"

#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>
#include <unistd.h>

fake_flatpak::fake_flatpak() : bin(dir.make_dir("bin"))
{
    dir.make_dir("permissions");
    dir.write_file("bin/flatpak",
                   "#!/bin/sh\n"
                   "here=$(dirname \"$0\")/..\n"
                   "echo \"$*\" >>\"$here/flatpak.log\"\n"
                   "[ \"$1 $2\" = 'info --show-permissions' ] || exit 1\n"
                   "printf '[Context]\\nshared=network;ipc;\\n\\n[Session Bus Policy]\\n'\n"
                   "cat \"$here/permissions/$3\" 2>/dev/null\n"
                   "exit 0\n",
                   0755);
    dir.write_file("bin/flatpak-spawn",
                   "#!/bin/sh\n"
                   "printf '%s\\n' \"$@\" >>\"$(dirname \"$0\")/../flatpak-spawn.log\"\n"
                   "[ \"$1 $2\" = '--host --watch-bus' ] || exit 99\n"
                   "shift 2\n"
                   "exec \"$@\"\n",
                   0755);
}

void fake_flatpak::grant(const std::string &app) const
{
    dir.write_file("permissions/" + app, "org.freedesktop.Flatpak=talk\n");
}

std::string fake_flatpak::log() const
{
    return path_exists(dir.path() + "/flatpak.log") ? read_file(dir.path() + "/flatpak.log") : "";
}

std::string fake_flatpak::spawn_log() const
{
    std::string file = dir.path() + "/flatpak-spawn.log";
    return path_exists(file) ? read_file(file) : "";
}

std::string tools_without_editors(const scratch_dir &dir)
{
    const std::set<std::string> editors = {"gvim", "sublime",  "gedit",
                                           "kate", "mousepad", "leafpad"};
    std::string tools = dir.make_dir("tools");
    for (const std::string bin : {"/usr/bin", "/bin"})
        for (const std::string &name : list_dir(bin))
            if (!editors.count(name) && !path_exists(tools + "/" + name) &&
                symlink((bin + "/" + name).c_str(), (tools + "/" + name).c_str()) != 0)
                throw std::runtime_error("cannot link " + tools + "/" + name + ": " +
                                         strerror(errno));
    return tools;
}
