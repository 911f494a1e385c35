#!/usr/bin/env python3
"""Runs whole edits through zuraze-host started by a real headless browser.

The host is registered as a user registers it (zuraze-host-register install)
in a private home directory; with --system, the browser finds it instead
through the system's manifest, which a package installed (the package test
runs it so, in a throwaway root). The browser loads the test extension in
extension/, which opens one native port per case of cases.py, sends its
request and reports every message and how the port ended to a server of this
script on 127.0.0.1. It all happens in namespaces of its own (processes.py):
only loopback exists there, and every process started there dies with it.

    browser_test.py --browser chromium|firefox --host BUILD/zuraze-host \\
        --register BUILD/zuraze-host-register --editor tests/editors/scripted-editor \\
        [--logs DIR]
    browser_test.py --browser chromium|firefox --system --host /usr/bin/zuraze-host \\
        --editor tests/editors/scripted-editor [--logs DIR]

--logs DIR (or $ZURAZE_BROWSER_TEST_LOGS) keeps the logs, the browser's
profile and the host's temporary directory in DIR/BROWSER. Without it they go
to a temporary directory, removed after a passing run and kept after a
failing one.
"""

import argparse
import base64
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

# The test's own modules are beside it, in the source tree, which it leaves
# as it was.
sys.dont_write_bytecode = True

import browsers
import cases
import processes
from harness import TestFailure, say, wait_for
from report_server import Reports, start_report_server

EXTENSION_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "extension")

# The extension's IDs; Chromium's follows from the manifest's public key.
CHROMIUM_ID = "agealdpoblodceghloenemmolbkkcpmk"
FIREFOX_ID = "browser-test@zuraze.example"

# Where each browser reads the system's manifests; the file is the manifest's
# name plus ".json".
SYSTEM_MANIFEST_DIRS = {
    "chromium": "/etc/chromium/native-messaging-hosts",
    "firefox": "/usr/lib/mozilla/native-messaging-hosts",
}
SYSTEM_MANIFEST_NAME = "zuraze_host"

CASES_SECONDS = 60
HOSTS_GONE_SECONDS = 20
CONSOLE_SECONDS = 5
HOST_AFTER_BROWSER_SECONDS = 5


def check_extension_key():
    with open(os.path.join(EXTENSION_DIR, "manifest.json")) as f:
        key = json.load(f)["key"]
    digest = hashlib.sha256(base64.b64decode(key)).hexdigest()[:32]
    derived = digest.translate(str.maketrans("0123456789abcdef", "abcdefghijklmnop"))
    if derived != CHROMIUM_ID:
        raise TestFailure(f"the extension's key gives the ID {derived}, not {CHROMIUM_ID}")


def prepare(work):
    """Makes the browser's private directories and environment. Its TMPDIR is
    the host's, and its PATH an empty directory, so that no editor can be
    found by name, whatever this machine has installed."""
    home = os.path.join(work, "home")
    paths = {
        "home": home,
        "tmp": os.path.join(work, "tmp"),
        "marks": os.path.join(work, "marks"),
        "bin": os.path.join(work, "bin"),
        "extension": os.path.join(work, "extension"),
        "chromium_user_data": os.path.join(home, ".config", "chromium"),
        "firefox_home": os.path.join(home, ".mozilla"),
        "firefox_profile": os.path.join(work, "firefox-profile"),
    }
    for name, path in paths.items():
        if name != "extension":
            os.makedirs(path)
    shutil.copytree(EXTENSION_DIR, paths["extension"])
    env = {
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
        "CHROME_CONFIG_HOME": os.path.join(home, ".config"),
        "TMPDIR": paths["tmp"],
        "PATH": paths["bin"],
        "LANG": "C.UTF-8",
        "ZURAZE_TEST_DIR": paths["marks"],
        "MOZ_CRASHREPORTER_DISABLE": "1",
    }
    return paths, env


def register_host(args, env):
    """Installs the host's manifest where this browser looks for the user's
    hosts; gives the manifest's name, which the extension connects to."""
    command = [args.register, "--host", args.host, "--chromium-id", CHROMIUM_ID, "--firefox-id", FIREFOX_ID]
    done = subprocess.run(
        command + ["install", args.browser],
        env=dict(env, PATH="/usr/bin:/bin"),
        capture_output=True,
        text=True,
        timeout=60,
    )
    say(f"zuraze-host-register: {done.stdout.strip()} {done.stderr.strip()}")
    if done.returncode != 0:
        raise TestFailure(f"zuraze-host-register install {args.browser} failed with status {done.returncode}")
    manifest_path = done.stdout.split(": wrote ", 1)[1].strip()
    with open(manifest_path) as f:
        manifest = json.load(f)
    say(f"manifest {manifest_path}: {json.dumps(manifest)}")
    return manifest["name"]


def system_manifest(args):
    """Checks that the system's manifest for this browser names the host and
    allows the test extension; gives the manifest's name."""
    path = os.path.join(SYSTEM_MANIFEST_DIRS[args.browser], SYSTEM_MANIFEST_NAME + ".json")
    try:
        with open(path) as f:
            manifest = json.load(f)
    except (OSError, ValueError) as error:
        raise TestFailure(f"no usable system manifest for {args.browser}: {error}")
    say(f"system manifest {path}: {json.dumps(manifest)}")
    if manifest.get("path") != args.host:
        raise TestFailure(f"{path} names the host {manifest.get('path')!r}, not {args.host}")
    if args.browser == "chromium":
        key, allowed = "allowed_origins", f"chrome-extension://{CHROMIUM_ID}/"
    else:
        key, allowed = "allowed_extensions", FIREFOX_ID
    if allowed not in manifest.get(key, []):
        raise TestFailure(f"{path} does not allow the test extension {allowed} in {key}")
    return manifest["name"]


def read_firefox_console(marionette, name, work, expected):
    """The host's lines in the Browser Console. Firefox reads the host's
    standard error apart from its messages, so the lines may come a little
    after the port's end: this waits a while for the expected ones."""
    deadline = time.monotonic() + CONSOLE_SECONDS
    while True:
        lines = browsers.firefox_host_lines(marionette, name, os.path.join(work, "console.log"))
        if all(cases.has_line(lines, line) for line in expected) or time.monotonic() > deadline:
            return lines
        time.sleep(0.5)


def later_save_made(paths):
    try:
        with open(os.path.join(paths["marks"], "marks")) as f:
            return any(line.startswith(cases.LATER_SAVE_MARK + " ") for line in f)
    except OSError:
        return False


def stop_browser_mid_edit(browser, host):
    """Ends the browser as a user or the session does, with SIGTERM, while one
    editor is still open; its host must not outlive the browser."""
    say("stopping the browser with SIGTERM while an edit is open")
    browser.terminate()
    try:
        browser.wait(processes.STOP_SECONDS)
    except subprocess.TimeoutExpired:
        raise TestFailure(f"the browser did not stop within {processes.STOP_SECONDS} s of SIGTERM")
    wait_for("end of the open edit's host after the browser's", HOST_AFTER_BROWSER_SECONDS,
             lambda: not processes.running(host))


def drive_browser(args, paths, env, work, reports, name, expected_lines):
    """Starts the browser, waits for every case and for every host to end,
    and stops every process. Gives the problems met and the host's lines in
    the browser's log."""
    browser = marionette = None
    problems = []
    diagnostics = []
    log_path = os.path.join(work, "browser.log")
    with open(log_path, "wb") as log:
        try:
            browser, marionette = browsers.start(args.browser, paths, env, log)
            wait_for("start of the extension", browsers.START_SECONDS, lambda: reports.started, browser)
            wait_for("report of every case", CASES_SECONDS, reports.all_in, browser)
            wait_for("a save of the edit left open", CASES_SECONDS, lambda: reports.messages_seen(cases.STOPPED_CASE))
            wait_for(
                "end of every host but the open edit's",
                HOSTS_GONE_SECONDS,
                lambda: len(processes.running(args.host)) == 1,
                browser,
            )
            wait_for("the later save after the extension let go", CASES_SECONDS, lambda: later_save_made(paths))
            if marionette:
                diagnostics = read_firefox_console(marionette, name, work, expected_lines)
                marionette = None
            stop_browser_mid_edit(browser, args.host)
        except (OSError, TestFailure) as failure:
            problems.append(str(failure))
        finally:
            if marionette:
                try:
                    diagnostics = read_firefox_console(marionette, name, work, expected_lines)
                except (OSError, TestFailure) as error:
                    problems.append(f"could not read the Browser Console: {error}")
            problems += processes.stop_everything(browser)
    if args.browser == "chromium":
        diagnostics = browsers.chromium_host_lines(log_path)
    say(f"the host's lines in the browser's log: {json.dumps(diagnostics)}")
    return problems, diagnostics


def run(args, work):
    """Gives the problems found; an empty list is a pass."""
    processes.check_namespaces()
    check_extension_key()
    binary = browsers.BINARIES[args.browser]
    if not os.access(binary, os.X_OK):
        package = browsers.DEBIAN_PACKAGES[args.browser]
        raise TestFailure(f"{binary} is missing: install the Debian package {package}")
    paths, env = prepare(work)
    name = system_manifest(args) if args.system else register_host(args, env)

    all_cases = cases.make_cases(args.editor)
    reports = Reports(
        [
            {
                "name": c["name"],
                "host": name,
                "request": c["request"],
                "disconnectAfter": c.get("disconnectAfter", 0),
                "reports": c.get("reports", True),
            }
            for c in all_cases
        ]
    )
    server = start_report_server(reports)
    with open(os.path.join(paths["extension"], "config.json"), "w") as f:
        json.dump({"port": server.server_address[1]}, f)
    try:
        expected_lines = [c["diagnostic"] for c in all_cases if c.get("diagnostic")]
        problems, diagnostics = drive_browser(args, paths, env, work, reports, name, expected_lines)
    finally:
        server.shutdown()
    problems += cases.check_all(all_cases, reports.results, args.browser, diagnostics)
    problems += cases.check_temporary_files(paths["tmp"], paths["marks"], args.editor)
    return problems


def print_logs(work):
    for name in ("browser.log", "console.log"):
        path = os.path.join(work, name)
        if not os.path.exists(path):
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
        print(f"----- {path}: {len(lines)} lines{', the last 400' if len(lines) > 400 else ''}")
        print("\n".join(lines[-400:]))
    print("-----", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--browser", choices=sorted(browsers.BINARIES), required=True)
    parser.add_argument("--host", required=True, help="the zuraze-host to register, or that --system finds")
    parser.add_argument("--register", help="the zuraze-host-register command, unless --system")
    parser.add_argument(
        "--system", action="store_true", help="find the host through the system's manifests; register nothing"
    )
    parser.add_argument("--editor", required=True, help="the scripted editor")
    parser.add_argument(
        "--logs", default=os.environ.get("ZURAZE_BROWSER_TEST_LOGS"), help="keep the logs in LOGS/BROWSER"
    )
    parser.add_argument("--in-namespaces", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if not args.system and not args.register:
        parser.error("--register is needed unless --system is given")
    if not args.in_namespaces:
        processes.enter_namespaces(os.path.abspath(__file__), sys.argv[1:])
    args.host, args.editor = map(os.path.abspath, (args.host, args.editor))
    if args.register:
        args.register = os.path.abspath(args.register)

    # The first process of a PID namespace gets no signal that it does not
    # handle; these stop the run the way a failure does.
    def stop(signum, frame):
        raise TestFailure(f"stopped by signal {signum}")

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, stop)

    if args.logs:
        work = os.path.join(os.path.abspath(args.logs), args.browser)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
    else:
        work = tempfile.mkdtemp(prefix=f"zuraze-browser-test-{args.browser}-")
    try:
        problems = run(args, work)
    except TestFailure as failure:
        problems = [str(failure)]
    except Exception:
        problems = [traceback.format_exc()]
    problems += processes.stop_everything(None)
    if problems:
        print(f"FAILED in {args.browser}:")
        print("\n".join(f"  {problem}" for problem in problems))
        print_logs(work)
        print(f"The logs, the profile and the host's TMPDIR are kept in {work}")
        return 1
    say(f"every case passed in {args.browser}")
    if not args.logs:
        shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
