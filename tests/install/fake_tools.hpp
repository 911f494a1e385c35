#pragma once

#include "scratch_dir.hpp"

#include <string>

// A directory of stand-ins for the Flatpak tools, to put first on PATH:
// flatpak logs each command line to flatpak.log in the directory and, for
// "info --show-permissions APP", prints the file permissions/APP when there is
// one; flatpak-spawn logs its arguments, one a line, to flatpak-spawn.log and
// runs what follows "--host --watch-bus".
struct fake_flatpak {
    scratch_dir dir;
    std::string bin;
    fake_flatpak();
    // Lets the app talk to org.freedesktop.Flatpak, as flatpak override does.
    void grant(const std::string &app) const;
    std::string log() const;
    std::string spawn_log() const;
};

// A directory of links to every program in /usr/bin and /bin but the editors
// that zuraze-host tries by default, for a PATH on which it finds none.
std::string tools_without_editors(const scratch_dir &dir);
