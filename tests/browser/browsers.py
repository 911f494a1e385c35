"""Starting headless Chromium and Firefox with the test extension, and finding
the host's lines in what they log."""

import json
import os
import re
import socket
import subprocess

from harness import TestFailure, say, wait_for

# The browsers' own programs: Debian's wrappers in /usr/bin add flags.
BINARIES = {
    "chromium": "/usr/lib/chromium/chromium",
    "firefox": "/usr/lib/firefox-esr/firefox-esr",
}
DEBIAN_PACKAGES = {"chromium": "chromium", "firefox": "firefox-esr"}

START_SECONDS = 60


def spawn(command, env, log):
    """Starts the browser in a session of its own, out of reach of the
    terminal's signals: the driver stops it."""
    say("starting " + " ".join(command))
    return subprocess.Popen(
        command,
        env=env,
        stdin=subprocess.DEVNULL,
        stdout=log,
        stderr=subprocess.STDOUT,
        start_new_session=True,
    )


def start_chromium(paths, env, log):
    # As root, Chromium starts only without its sandbox; the other flags keep
    # it from its own traffic, and the resolver rules from any host name.
    command = [
        BINARIES["chromium"],
        "--headless=new",
        "--no-sandbox",
        "--disable-gpu",
        "--no-first-run",
        "--no-default-browser-check",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        "--disable-quic",
        "--disable-default-apps",
        "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1",
        f"--user-data-dir={paths['chromium_user_data']}",
        f"--load-extension={paths['extension']}",
        "about:blank",
    ]
    return spawn(command, env, log), None


class Marionette:
    """Just enough of Firefox's remote protocol, whose frames are
    <length>:<JSON>."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=START_SECONDS)
        self.buffer = b""
        self.last_id = 0
        self._receive()

    def _fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise TestFailure("Firefox closed the Marionette connection")
        self.buffer += chunk

    def _receive(self):
        while b":" not in self.buffer:
            self._fill()
        length, _, self.buffer = self.buffer.partition(b":")
        while len(self.buffer) < int(length):
            self._fill()
        packet, self.buffer = self.buffer[: int(length)], self.buffer[int(length) :]
        return json.loads(packet)

    def call(self, command, params):
        self.last_id += 1
        data = json.dumps([0, self.last_id, command, params]).encode()
        self.sock.sendall(b"%d:%s" % (len(data), data))
        while True:
            kind, reply_id, error, result = self._receive()
            if kind == 1 and reply_id == self.last_id:
                break
        if error:
            raise TestFailure(f"Marionette {command} failed: {error}")
        return result


# Marionette switches off most of Firefox's own traffic; these cover the rest.
FIREFOX_PREFS = {
    "marionette.port": 0,
    "network.dns.forceResolve": "127.0.0.1",
    "app.update.disabledForTesting": True,
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "datareporting.policy.dataSubmissionEnabled": False,
    "datareporting.healthreport.uploadEnabled": False,
    "toolkit.telemetry.enabled": False,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "browser.safebrowsing.downloads.enabled": False,
    "extensions.update.enabled": False,
    "extensions.getAddons.cache.enabled": False,
    "extensions.blocklist.enabled": False,
    "services.settings.server": "http://127.0.0.1:9/",
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
}


def start_firefox(paths, env, log):
    profile = paths["firefox_profile"]
    with open(os.path.join(profile, "user.js"), "w") as prefs:
        for name, value in FIREFOX_PREFS.items():
            prefs.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")
    # System access lets the test read the Browser Console, where Firefox
    # puts the lines that a host writes on its standard error.
    command = [
        BINARIES["firefox"],
        "-headless",
        "-no-remote",
        "-marionette",
        "-remote-allow-system-access",
        "-profile",
        profile,
        "about:blank",
    ]
    browser = spawn(command, env, log)
    port_file = os.path.join(profile, "MarionetteActivePort")
    wait_for("Marionette port", START_SECONDS, lambda: os.path.exists(port_file), browser)
    with open(port_file) as f:
        marionette = Marionette(int(f.read()))
    marionette.call("WebDriver:NewSession", {})
    marionette.call("Addon:Install", {"path": paths["extension"], "temporary": True})
    say("extension installed as a temporary add-on")
    return browser, marionette


def start(browser, paths, env, log):
    """Starts the browser with the test extension; gives its process and,
    for Firefox, the Marionette connection to it."""
    return (start_chromium if browser == "chromium" else start_firefox)(paths, env, log)


# Chromium's own log lines start with [pid:tid:MMDD/HHMMSS.micro:LEVEL:...];
# the rest of its standard error, which it hands to the host, is the host's.
CHROMIUM_LOG_LINE = re.compile(r"\[\d+:\d+:\d{4}/\d{6}\.\d+:[A-Z]+:")


def chromium_host_lines(log_path):
    with open(log_path, encoding="utf-8", errors="replace") as f:
        return [line for line in f.read().splitlines() if not CHROMIUM_LOG_LINE.match(line)]


def firefox_host_lines(marionette, name, console_path):
    """The host's lines in the Browser Console, which is saved whole in
    console_path."""
    marionette.call("Marionette:SetContext", {"value": "chrome"})
    console = marionette.call(
        "WebDriver:ExecuteScript",
        {"script": "return Services.console.getMessageArray().map(m => m.message);", "args": []},
    )["value"]
    with open(console_path, "w") as f:
        f.write("\n".join(console) + "\n")
    prefix = f"stderr output from native app {name}: "
    return [line[len(prefix) :] for line in console if line.startswith(prefix)]
