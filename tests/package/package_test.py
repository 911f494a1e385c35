#!/usr/bin/env python3
"""Builds the Debian package from a copy of the tree and tries it out.

    package_test.py --source SRC --version VERSION --editor tests/editors/scripted-editor \\
        [--browser-test tests/browser/browser_test.py]

1. Copies the tree to a scratch directory (dpkg-buildpackage writes into the
   tree and its parent) and runs dpkg-buildpackage -us -uc -b there without a
   network, with the browser test extension's IDs in the manifests; the build
   runs the unit and end-to-end tests unless $DEB_BUILD_OPTIONS holds nocheck.
2. Runs lintian, which must report no error and no warning, and checks the
   file list of the package.
3. In a throwaway root (overlays of /usr, /etc and /var in private mount and
   network namespaces, with their upper layers on a tmpfs that goes with the
   namespaces), installs the package with apt-get, checks a whole edit through
   the installed host and every manifest, registers the host for one user's
   Firefox and runs doctor there with the installed registration command,
   removes the package (no manifest may be left that names a missing host),
   purges it (nothing of it may be left: the upper layers hold only apt's and
   dpkg's records), installs it again and runs the browser tests against it
   (with --browser-test).

The machine stays as it was. The test is skipped (status 77), saying why,
when it does not run as root or a tool or build dependency is missing.
"""

import argparse
import glob
import io
import json
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tarfile
import tempfile
import time

sys.dont_write_bytecode = True

SKIP = 77
PACKAGE = "zuraze-host"
HOST = "/usr/bin/zuraze-host"
REGISTER = "/usr/bin/zuraze-host-register"
MANIFEST_NAME = "zuraze_host.json"
CHROMIUM_MANIFEST = "/usr/share/zuraze-host/chromium/" + MANIFEST_NAME

# The browser test extension's IDs (tests/browser/browser_test.py).
CHROMIUM_ID = "agealdpoblodceghloenemmolbkkcpmk"
FIREFOX_ID = "browser-test@zuraze.example"

# Every manifest that the installed package gives: path, family, and the
# Chromium-family manifest it must link to (None for a file of its own).
MANIFESTS = [
    ("/usr/lib/mozilla/native-messaging-hosts/" + MANIFEST_NAME, "firefox", None),
    ("/usr/lib/librewolf/native-messaging-hosts/" + MANIFEST_NAME, "firefox", None),
    (CHROMIUM_MANIFEST, "chromium", None),
    ("/etc/chromium/native-messaging-hosts/" + MANIFEST_NAME, "chromium", CHROMIUM_MANIFEST),
    ("/etc/opt/chrome/native-messaging-hosts/" + MANIFEST_NAME, "chromium", CHROMIUM_MANIFEST),
    ("/etc/opt/edge/native-messaging-hosts/" + MANIFEST_NAME, "chromium", CHROMIUM_MANIFEST),
]
OTHER_FILES = [
    "/usr/bin/zuraze-host-register",
    "/usr/libexec/zuraze-host/zuraze-host-read-manifest",
    "/usr/share/man/man1/zuraze-host.1.gz",
    "/usr/share/man/man1/zuraze-host-register.1.gz",
    "/usr/share/doc/zuraze-host/copyright",
]

# Everything that the package holds but directories: path, and the target
# of a symbolic link (None for a file). A file added to the install, or one
# lost from it, shows here.
CONTENTS = {
    HOST: None,
    "/usr/bin/zuraze-host-register": None,
    "/usr/libexec/zuraze-host/zuraze-host-read-manifest": None,
    "/usr/lib/mozilla/native-messaging-hosts/" + MANIFEST_NAME: None,
    "/usr/lib/librewolf/native-messaging-hosts/" + MANIFEST_NAME: None,
    CHROMIUM_MANIFEST: None,
    "/etc/chromium/native-messaging-hosts/" + MANIFEST_NAME: CHROMIUM_MANIFEST,
    "/usr/share/man/man1/zuraze-host.1.gz": None,
    "/usr/share/man/man1/zuraze-host-register.1.gz": None,
    "/usr/share/doc/zuraze-host/copyright": None,
    "/usr/share/doc/zuraze-host/changelog.Debian.gz": None,
    "/usr/share/lintian/overrides/zuraze-host": None,
}
EXECUTABLES = [HOST, "/usr/bin/zuraze-host-register", "/usr/libexec/zuraze-host/zuraze-host-read-manifest"]

# What the test needs from the machine: command, Debian package.
TOOLS = [
    ("dpkg-buildpackage", "dpkg-dev"),
    ("dh", "debhelper"),
    ("fakeroot", "fakeroot"),
    ("lintian", "lintian"),
    ("apt-get", "apt"),
    ("unshare", "util-linux"),
    ("mount", "mount"),
]

# The overlaid trees, and where apt and dpkg keep their own records, which an
# install, remove and purge leave changed.
ROOTS = ["/usr", "/etc", "/var"]
BOOKKEEPING = [
    "/var/lib/dpkg/",
    "/var/lib/apt/",
    "/var/cache/apt/",
    "/var/cache/debconf/",
    "/var/cache/man/",
    "/var/cache/ldconfig/",
    "/var/log/",
    "/etc/ld.so.cache",
]
# postrm removes what it made below /etc/opt but leaves /etc/opt itself, which
# other software may share, as the other packages that link there do.
LEFT_ON_PURPOSE = ["/etc/opt"]

START = time.monotonic()


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def say(line):
    print(f"[{time.monotonic() - START:6.1f} s] {line}", flush=True)


def run(command, check=True, log=None, **kwargs):
    """Runs command; its output goes to log (a path) if given, else is
    printed. Fails on a non-zero status when check is set."""
    say("$ " + " ".join(command))
    if log:
        with open(log, "wb") as out:
            done = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, **kwargs)
    else:
        done = subprocess.run(command, **kwargs)
    if check and done.returncode != 0:
        raise Failure(f"{command[0]} failed with status {done.returncode}")
    return done


def output(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


def check_prerequisites(source):
    if os.geteuid() != 0:
        raise Skip("it installs the package in a throwaway root, which needs root")
    for command, package in TOOLS:
        if not shutil.which(command):
            raise Skip(f"{command} is not installed (Debian: {package})")
    with open("/proc/filesystems") as f:
        if "overlay" not in f.read().split() and subprocess.run(["modprobe", "-q", "overlay"]).returncode != 0:
            raise Skip("the kernel has no overlay file system")
    unmet = subprocess.run(["dpkg-checkbuilddeps"], cwd=source, capture_output=True, text=True)
    if unmet.returncode != 0:
        raise Skip(unmet.stderr.strip())
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE], capture_output=True, text=True)
    if status.returncode == 0 and not status.stdout.endswith("not-installed"):
        raise Skip(f"{PACKAGE} is installed on this machine ({status.stdout}); the test installs its own")


def copy_tree(source, scratch, version):
    """Copies the tree, without build directories and version control, to
    scratch/zuraze-host-VERSION."""
    tree = os.path.join(scratch, f"{PACKAGE}-{version}")

    def ignore(directory, names):
        if os.path.samefile(directory, source):
            return [n for n in names if re.match(r"(build.*|obj-.*|\.git|\.cache)$", n)]
        return []

    shutil.copytree(source, tree, symlinks=True, ignore=ignore)
    return tree


def build(tree, source):
    """Builds the binary packages offline; gives the .changes file."""
    changelog_version = output(["dpkg-parsechangelog", "-S", "Version"], cwd=tree).strip()
    upstream = re.sub(r"-[^-]*$", "", changelog_version)
    say(f"debian/changelog: {changelog_version}")
    env = dict(
        os.environ,
        ZURAZE_CHROMIUM_EXTENSION_IDS=CHROMIUM_ID,
        ZURAZE_FIREFOX_EXTENSION_IDS=FIREFOX_ID,
    )
    log = os.path.join(os.path.dirname(tree), "build.log")
    started = time.monotonic()
    done = run(
        ["unshare", "--net", "--", "dpkg-buildpackage", "-us", "-uc", "-b", f"-j{os.cpu_count() or 1}"],
        check=False,
        log=log,
        cwd=tree,
        env=env,
    )
    with open(log, encoding="utf-8", errors="replace") as f:
        text = f.read()
    if done.returncode != 0:
        print(text[-20000:])
        raise Failure(f"dpkg-buildpackage failed with status {done.returncode}; the log is above")
    say(f"dpkg-buildpackage took {time.monotonic() - started:.0f} s")
    check_build_log(text, tree, env)
    return upstream, glob.glob(os.path.join(os.path.dirname(tree), f"{PACKAGE}_*.changes"))[0]


# The C++ compiler driver as a build log names it: c++, g++, clang++, maybe
# with a target prefix or a version suffix.
COMPILER = re.compile(r"(?:^|/)(?:[\w.-]+-)?(?:c\+\+|g\+\+|clang\+\+)(?:-[\d.]+)?$")
# Flags that, coming after dpkg-buildflags' own, would take back what those
# asked for.
UNDOING = re.compile(r"-O\w*$|-U_FORTIFY_SOURCE$|-D_FORTIFY_SOURCE=0$|-fno-stack-protector$|-fno-stack-clash-protection$|-fcf-protection=none$")


def compiler_commands(text):
    """The compiler's command lines in a build log, split into words from
    the compiler on: whatever comes before it on the line (such as the
    "cd DIR &&" of CMake's Makefiles) is dropped. Gives (compiles, links):
    the lines with -c, and those with -o but no -c."""
    compiles, links = [], []
    for line in text.splitlines():
        words = line.split()
        start = next((i for i, word in enumerate(words) if COMPILER.search(word)), None)
        if start is None or "-o" not in words[start:]:
            continue
        command = words[start:]
        (compiles if "-c" in command else links).append(command)
    return compiles, links


def missing_flags(command, wanted):
    """The wanted flags that command lacks, and the flags after them that
    take one back (another -O, -U_FORTIFY_SOURCE ...)."""
    missing = [flag for flag in wanted if flag not in command]
    positions = [command.index(flag) for flag in wanted if flag in command]
    if positions:
        later = command[min(positions) + 1 :]
        missing += [f"{word} (after them)" for word in later if UNDOING.match(word) and word not in wanted]
    return missing


def check_build_log(text, tree, env):
    """Every compile line of the build got dpkg-buildflags' CXXFLAGS and
    CPPFLAGS, every link line its LDFLAGS, none took them back; the build
    ran the tests unless told not to."""
    flags_env = dict(env, DEB_BUILD_MAINT_OPTIONS="hardening=+all")

    def buildflags(variable):
        return output(["dpkg-buildflags", "--get", variable], cwd=tree, env=flags_env).split()

    compiles, links = compiler_commands(text)
    if not any(word.endswith("src/main.cpp") for command in compiles for word in command):
        raise Failure("no compile line for src/main.cpp in the build log: is it verbose?")
    if not any(command[command.index("-o") + 1] == "zuraze-host" for command in links):
        raise Failure("no link line for zuraze-host in the build log: is it verbose?")
    for commands, variables in ((compiles, ("CXXFLAGS", "CPPFLAGS")), (links, ("LDFLAGS",))):
        for variable in variables:
            wanted = buildflags(variable)
            for command in commands:
                missing = missing_flags(command, wanted)
                if missing:
                    raise Failure(f"the build dropped {variable} of dpkg-buildflags: {missing}\n{' '.join(command)}")
    say(
        f"all {len(compiles)} compile lines got dpkg-buildflags' CXXFLAGS and CPPFLAGS, "
        f"all {len(links)} link lines its LDFLAGS"
    )
    if "nocheck" in env.get("DEB_BUILD_OPTIONS", "").split():
        say("DEB_BUILD_OPTIONS holds nocheck: the build ran no tests")
    elif not re.search(r"100% tests passed, 0 tests failed out of [1-9]", text):
        raise Failure("the build log shows no passing run of the tests")
    else:
        say("the build ran the tests: " + re.search(r"100% tests passed.*", text).group(0))


def lint(changes):
    done = run(
        ["unshare", "--net", "--", "lintian", "--display-info", "--pedantic", "--show-overrides", changes],
        check=False,
        capture_output=True,
        text=True,
    )
    print(done.stdout + done.stderr, end="", flush=True)
    bad = [line for line in done.stdout.splitlines() if re.match(r"[EW]: ", line)]
    if done.returncode != 0 or bad:
        raise Failure(f"lintian (status {done.returncode}) reports errors or warnings: {bad}")
    say("lintian: no error, no warning")


def check_contents(deb):
    """The package holds exactly CONTENTS, and the programs are executable."""
    tar = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, capture_output=True).stdout
    got = {}
    modes = {}
    with tarfile.open(fileobj=io.BytesIO(tar)) as archive:
        for member in archive.getmembers():
            path = "/" + os.path.normpath(member.name).lstrip("./")
            if member.isdir():
                continue
            got[path] = member.linkname if member.issym() else None
            modes[path] = member.mode
    if got != CONTENTS:
        lines = [f"  + {p} ({got[p]})" for p in sorted(set(got) - set(CONTENTS))]
        lines += [f"  - {p}" for p in sorted(set(CONTENTS) - set(got))]
        lines += [f"  {p}: {got[p]}, not {CONTENTS[p]}" for p in sorted(set(got) & set(CONTENTS)) if got[p] != CONTENTS[p]]
        raise Failure(f"{os.path.basename(deb)} does not hold what it should (+ extra, - missing):\n" + "\n".join(lines))
    not_executable = [path for path in EXECUTABLES if modes[path] & 0o111 != 0o111]
    if not_executable:
        raise Failure(f"not executable in the package: {not_executable}")
    say(f"{os.path.basename(deb)} holds the {len(CONTENTS)} files and links it should")


def in_throwaway_root(args, debs):
    """Runs this script again in new mount and network namespaces, where it
    does the rest (throwaway_root)."""
    command = ["unshare", "--mount", "--propagation", "private", "--net", "--", sys.executable, "-B"]
    command += [os.path.abspath(__file__), "--in-throwaway-root", "--deb", debs[0]]
    command += ["--editor", args.editor, "--work", args.work]
    if args.browser_test:
        command += ["--browser-test", args.browser_test]
    run(command)


def mount_overlays(base):
    """Lays a writable layer over each of ROOTS, on a tmpfs at base; the real
    trees stay visible, read-only, under base/lower."""
    run(["mount", "-t", "tmpfs", "-o", "mode=0700", "zuraze-package-test", base])
    for root in ROOTS:
        name = root.strip("/")
        lower, upper, work = (os.path.join(base, part, name) for part in ("lower", "upper", "work"))
        for directory in (lower, upper, work):
            os.makedirs(directory)
        run(["mount", "--bind", "-o", "ro", root, lower])
        run(["mount", "-o", "remount,bind,ro", lower])
        run(["mount", "-t", "overlay", "overlay", "-o", f"lowerdir={root},upperdir={upper},workdir={work}", root])


def apt_get(*arguments):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    run(["apt-get", "-y", "-q", "--no-install-recommends", *arguments], env=env)


def package_status():
    done = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE], capture_output=True, text=True)
    return done.stdout if done.returncode == 0 else "unknown"


def check_manifest(path, family):
    with open(path) as f:
        manifest = json.load(f)
    if family == "firefox":
        allowed = {"allowed_extensions": [FIREFOX_ID]}
    else:
        allowed = {"allowed_origins": [f"chrome-extension://{CHROMIUM_ID}/"]}
    expected = dict({"name": "zuraze_host", "path": HOST, "type": "stdio"}, **allowed)
    got = {key: manifest.get(key) for key in expected}
    if got != expected:
        raise Failure(f"{path}: {json.dumps(got)}, not {json.dumps(expected)}")


def check_installed():
    status = package_status()
    if status != "install ok installed":
        raise Failure(f"{PACKAGE} is {status!r} after apt-get install")
    for path in [HOST] + OTHER_FILES:
        if not os.path.isfile(path):
            raise Failure(f"{path} is missing")
    if not os.access(HOST, os.X_OK):
        raise Failure(f"{HOST} is not executable")
    for path, family, target in MANIFESTS:
        if target is not None and os.readlink(path) != target:
            raise Failure(f"{path} links to {os.readlink(path)}, not {target}")
        check_manifest(path, family)
    # Every manifest of the package's own, whatever its place, names the host.
    for path in output(["dpkg-query", "-L", PACKAGE]).splitlines():
        if path.endswith(".json"):
            family = "firefox" if "mozilla" in path or "librewolf" in path else "chromium"
            check_manifest(path, family)
    say(f"installed: the host, the registration command, both man pages, {len(MANIFESTS)} manifests naming {HOST}")


def frame(document):
    body = json.dumps(document).encode()
    return struct.pack("=I", len(body)) + body


def whole_edit(editor, work):
    """Edits through the installed host as a browser would: one request,
    two saves by the scripted editor, then its exit."""
    answer = output([HOST, "-h"], env={"PATH": "/usr/bin:/bin"}).splitlines()[0]
    if not answer.startswith("Native Messaging Host for the Zuraze Browser Extension"):
        raise Failure(f"{HOST} -h gives {answer!r}")
    tmp = tempfile.mkdtemp(dir=work, prefix="edit-")
    # Saves by rename, as many editors save: the host never sees half a file.
    steps = ["rename=First save", "sleep=1", "rename=Second save", "sleep=1", "exit=0"]
    request = frame({"text": "Hello", "editor": editor, "args": steps, "ext": "txt"})
    env = {"PATH": "/usr/bin:/bin", "TMPDIR": tmp, "HOME": tmp, "ZURAZE_TEST_DIR": tmp}
    done = subprocess.run([HOST], input=request, capture_output=True, env=env, timeout=60)
    texts = []
    data = done.stdout
    while len(data) >= 4:
        (length,) = struct.unpack("=I", data[:4])
        texts.append(json.loads(data[4 : 4 + length])["text"])
        data = data[4 + length :]
    if done.returncode != 0 or data or not texts or texts[-1] != "Second save":
        raise Failure(f"the edit gave status {done.returncode}, texts {texts}, stderr {done.stderr!r}")
    if set(texts) - {"First save", "Second save"}:
        raise Failure(f"the edit sent texts that were never saved: {texts}")
    if os.listdir(tmp):
        raise Failure(f"the edit left {os.listdir(tmp)} in its TMPDIR")
    shutil.rmtree(tmp)
    say(f"a whole edit through {HOST}: {len(texts)} responses, the last one {texts[-1]!r}")


def register_and_doctor(work):
    """The installed registration command registers the installed host with
    one user's Firefox, and its doctor, reading the manifest with the reader
    below /usr/libexec, passes every check, a round trip through the host
    among them; uninstall then takes the registration back."""
    home = tempfile.mkdtemp(dir=work, prefix="home-")
    os.makedirs(os.path.join(home, ".mozilla"))
    # The editor that the host would choose, a stand-in for gvim.
    tools = os.path.join(home, "bin")
    os.makedirs(tools)
    with open(os.path.join(tools, "gvim"), "w") as f:
        f.write("#!/bin/sh\n")
    os.chmod(os.path.join(tools, "gvim"), 0o755)
    env = {"HOME": home, "PATH": f"{tools}:/usr/bin:/bin", "TMPDIR": home}
    run([REGISTER, "install", "firefox"], env=env)
    done = subprocess.run([REGISTER, "doctor", "firefox"], capture_output=True, text=True, env=env, timeout=300)
    print(done.stdout + done.stderr, end="", flush=True)
    summary = re.search(r"^summary: ([0-9]+) PASS, 0 WARN, 0 FAIL$", done.stdout, re.M)
    if done.returncode != 0 or not summary or "PASS firefox round trip: " not in done.stdout:
        raise Failure(f"{REGISTER} doctor firefox gave status {done.returncode}, not all PASS")
    run([REGISTER, "uninstall"], env=env)
    left = sorted(os.path.relpath(p, home) for p in walk(home))
    if left != [".mozilla", "bin", "bin/gvim"]:
        raise Failure(f"{REGISTER} install, doctor and uninstall left {left} in the home directory")
    shutil.rmtree(home)
    say(f"{REGISTER}: install, doctor ({summary.group(1)} PASS) and uninstall for one user's Firefox")


def browser_tests(args):
    for browser in ("chromium", "firefox"):
        run(
            [
                sys.executable,
                "-B",
                args.browser_test,
                "--browser",
                browser,
                "--system",
                "--host",
                HOST,
                "--editor",
                args.editor,
            ]
        )


def walk(top):
    """Every path below top, top excluded, without following links."""
    for directory, dirs, files in os.walk(top):
        for name in dirs + files:
            yield os.path.join(directory, name)


def upper_entries(base):
    """Each entry of the upper layers: its path in the root, and its lstat."""
    for root in ROOTS:
        upper = os.path.join(base, "upper", root.strip("/"))
        for path in walk(upper):
            yield root + path[len(upper) :], os.lstat(path)


def check_no_dangling_manifest(base):
    """After a remove: no JSON file or link left in the layers that names or
    points to something missing, and none of the package's manifests."""
    for path, _, _ in MANIFESTS:
        if os.path.lexists(path):
            raise Failure(f"{path} is left after apt-get remove")
    for path, info in upper_entries(base):
        if not path.endswith(".json"):
            continue
        if stat.S_ISLNK(info.st_mode) and not os.path.exists(path):
            raise Failure(f"{path} is left after apt-get remove, a link to the missing {os.readlink(path)}")
        if stat.S_ISREG(os.stat(path).st_mode):
            with open(path, "rb") as f:
                content = f.read()
            host = re.search(rb'"path"\s*:\s*"([^"]*)"', content)
            if host and not os.path.exists(host.group(1).decode()):
                raise Failure(f"{path} is left after apt-get remove, naming the missing {host.group(1)}")


def check_nothing_left(base):
    """After a purge: the upper layers hold apt's and dpkg's records and the
    directories above them, nothing else; in particular nothing was removed
    from the real trees (a whiteout) outside those records."""
    left = []
    for path, info in upper_entries(base):
        lower = os.path.join(base, "lower", path.lstrip("/"))
        if any(path.startswith(p) or path + "/" == p for p in BOOKKEEPING):
            if PACKAGE in os.path.basename(path):
                left.append(path)
            continue
        if stat.S_ISDIR(info.st_mode) and (os.path.isdir(lower) or path in LEFT_ON_PURPOSE):
            continue
        if stat.S_ISCHR(info.st_mode) and info.st_rdev == 0:
            left.append(f"{path} (removed from the real tree)")
        else:
            left.append(path)
    if left:
        raise Failure("left after apt-get purge:\n  " + "\n  ".join(sorted(left)))
    status = package_status()
    if status not in ("unknown", "unknown ok not-installed"):
        raise Failure(f"{PACKAGE} is {status!r} after apt-get purge")
    say("purged: nothing of the package is left in /usr, /etc or /var")


def throwaway_root(args):
    base = os.path.join(args.work, "root")
    os.makedirs(base, exist_ok=True)
    mount_overlays(base)
    say(f"throwaway root: {', '.join(ROOTS)} overlaid, upper layers in {base}/upper")

    apt_get("install", args.deb)
    check_installed()
    whole_edit(args.editor, args.work)
    register_and_doctor(args.work)

    apt_get("remove", PACKAGE)
    if os.path.lexists(HOST):
        raise Failure(f"{HOST} is left after apt-get remove")
    check_no_dangling_manifest(base)
    say("removed: no manifest is left that names a missing host")

    apt_get("purge", PACKAGE)
    check_nothing_left(base)

    apt_get("install", args.deb)
    check_installed()
    whole_edit(args.editor, args.work)
    say("installed again: it works")
    # Last, since the browsers leave caches of their own (fonts, say) that
    # the check after the purge would count.
    if args.browser_test:
        browser_tests(args)
    else:
        say("browser tests not asked for (ZURAZE_BROWSER_TESTS is off)")


def check_real_system():
    """The machine itself never saw the package."""
    if package_status() not in ("unknown", "unknown ok not-installed"):
        raise Failure(f"{PACKAGE} is {package_status()!r} on the real system after the test")
    for path in [HOST] + [m[0] for m in MANIFESTS]:
        if os.path.lexists(path):
            raise Failure(f"{path} exists on the real system after the test")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", help="the source tree")
    parser.add_argument("--version", help="the project's version, which debian/changelog must give")
    parser.add_argument("--editor", required=True, help="the scripted editor")
    parser.add_argument("--browser-test", help="browser_test.py, to run against the installed host")
    parser.add_argument("--keep", action="store_true", help="keep the scratch directory")
    parser.add_argument("--in-throwaway-root", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--deb", help=argparse.SUPPRESS)
    parser.add_argument("--work", help=argparse.SUPPRESS)
    args = parser.parse_args()
    args.editor = os.path.abspath(args.editor)
    if args.browser_test:
        args.browser_test = os.path.abspath(args.browser_test)
    if args.in_throwaway_root:
        try:
            throwaway_root(args)
        except Failure as failure:
            print(f"FAILED in the throwaway root: {failure}", flush=True)
            return 1
        return 0

    if not args.source or not args.version:
        parser.error("--source and --version are needed")
    source = os.path.abspath(args.source)
    try:
        check_prerequisites(source)
    except Skip as reason:
        print(f"SKIPPED: {reason}", flush=True)
        return SKIP

    scratch = tempfile.mkdtemp(prefix="zuraze-package-test-")
    args.work = scratch
    try:
        tree = copy_tree(source, scratch, args.version)
        upstream, changes = build(tree, source)
        if upstream != args.version:
            raise Failure(f"debian/changelog gives version {upstream}, CMakeLists.txt {args.version}")
        lint(changes)
        debs = sorted(glob.glob(os.path.join(scratch, f"{PACKAGE}_*.deb")))
        say(f"built {', '.join(os.path.basename(deb) for deb in debs)}")
        check_contents(debs[0])
        in_throwaway_root(args, debs)
        check_real_system()
    except Failure as failure:
        print(f"FAILED: {failure}\nThe scratch directory is kept: {scratch}", flush=True)
        return 1
    say("every check passed")
    if args.keep:
        say(f"kept {scratch}")
    else:
        shutil.rmtree(scratch)
    return 0


if __name__ == "__main__":
    sys.exit(main())
