#!/usr/bin/env python3
"""Checks the FreeBSD port's pkg-plist against what the tree installs.

    port_plist_test.py --source SRC --cmake CMAKE [--cxx CXX]

Configures the tree with the CMake options that dist/freebsd/Makefile passes
(CMAKE_ARGS, CMAKE_ON, CMAKE_OFF) and the prefix /usr/local, builds it as the
port does, stages the install, and compares the staged files with pkg-plist, where the
ports framework lists man pages compressed (.gz). Adding an installed file
without its plist line, or the other way round, fails the test.
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

PREFIX = "/usr/local"


def make_variables(makefile):
    """The variables of a port's Makefile, their continuation lines joined;
    += appends."""
    with open(makefile) as f:
        text = re.sub(r"\\\n", " ", f.read())
    variables = {}
    for line in text.splitlines():
        match = re.match(r"([A-Z_]+)\s*(\+?=)\s*(.*)", line)
        if match:
            name, operator, value = match.groups()
            variables[name] = (variables.get(name, "") + " " if operator == "+=" else "") + value.strip()
    return variables


def port_cmake_options(makefile):
    variables = make_variables(makefile)
    options = shlex.split(variables.get("CMAKE_ARGS", ""))
    options += [f"-D{name}=ON" for name in variables.get("CMAKE_ON", "").split()]
    options += [f"-D{name}=OFF" for name in variables.get("CMAKE_OFF", "").split()]
    unexpanded = [option for option in options if "${" in option]
    if unexpanded:
        sys.exit(f"options that only the ports framework can expand: {unexpanded}")
    return options


def plist(path):
    """The files of a pkg-plist, without its keywords (@dir, @sample ...)."""
    with open(path) as f:
        lines = [line.strip() for line in f]
    return sorted(line for line in lines if line and not line.startswith(("@", "#")))


def staged_files(stage):
    """What the install staged below the prefix, man pages as the ports
    framework compresses them."""
    root = stage + PREFIX
    files = []
    for directory, _, names in os.walk(root):
        for name in names:
            path = os.path.relpath(os.path.join(directory, name), root)
            if re.match(r"share/man/man\w+/", path) and not path.endswith(".gz"):
                path += ".gz"
            files.append(path)
    outside = [d for d in os.listdir(stage) if d != PREFIX.split("/")[1]]
    if outside or os.listdir(stage + "/usr") != [PREFIX.split("/")[2]]:
        sys.exit(f"the install put files outside {PREFIX}: {outside or os.listdir(stage + '/usr')}")
    return sorted(files)


def run(command, **kwargs):
    print("$ " + " ".join(command), flush=True)
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if done.returncode != 0:
        print(done.stdout + done.stderr)
        sys.exit(f"{command[0]} failed with status {done.returncode}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--cxx", help="the C++ compiler")
    args = parser.parse_args()
    port = os.path.join(args.source, "dist", "freebsd")
    options = port_cmake_options(os.path.join(port, "Makefile"))
    if args.cxx:
        options.append(f"-DCMAKE_CXX_COMPILER={args.cxx}")

    scratch = tempfile.mkdtemp(prefix="zuraze-port-plist-test-")
    build, stage = os.path.join(scratch, "build"), os.path.join(scratch, "stage")
    run([args.cmake, "-S", args.source, "-B", build, f"-DCMAKE_INSTALL_PREFIX={PREFIX}"] + options)
    # Everything, as the port's build does: the install takes more than the host.
    run([args.cmake, "--build", build, "--parallel", str(min(os.cpu_count() or 1, 2))])
    run([args.cmake, "--install", build], env=dict(os.environ, DESTDIR=stage))

    staged, listed = staged_files(stage), plist(os.path.join(port, "pkg-plist"))
    unlisted = sorted(set(staged) - set(listed))
    missing = sorted(set(listed) - set(staged))
    for path, what in [(p, "installed, not in pkg-plist") for p in unlisted] + [
        (p, "in pkg-plist, not installed") for p in missing
    ]:
        print(f"{path}: {what}")
    if unlisted or missing:
        print(f"FAILED: dist/freebsd/pkg-plist does not list what the port installs; kept {scratch}")
        return 1
    print(f"pkg-plist lists exactly the {len(staged)} files that the port installs:")
    print("\n".join(f"  {path}" for path in staged))
    shutil.rmtree(scratch)
    return 0


if __name__ == "__main__":
    sys.exit(main())
