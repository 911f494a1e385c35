#!/usr/bin/env python3
"""Whole edits through the built zuraze-host with the real editors that users
configure, typed into on a virtual X display as a person would.

    real_editors_test.py --host BUILD/zuraze-host [--only NAME]... [--keep DIR]

For each editor the test plays the browser: it sends a request naming the
editor as a user sets it in the extension (editors.py), types into the
editor's window, saves (plain ASCII first, which also shows that the editor
is ready), saves again with non-ASCII characters, quotes, a backslash and a
tab, saves three times in quick succession, then saves and quits. Every save
must reach the host's standard output as a frame holding exactly what the
editor wrote, within seconds; the last frame must be the final text; the
host must exit 0 soon after the editor; standard output must hold nothing
but frames; the temporary directory must be empty afterwards.

The cases of an editor: "main", on a text without a final newline, which
shows what the editor does to it; "hand-off", the same with the editor
already open on another file; "plain", for editors that hand the file to
that window unless told not to, started without their option: the host must
send the text back unchanged, exit 0 and say why the edit ended at once;
"default", gvim found as the first default editor, with no "editor" in the
request; "default, one open", gedit, kate or mousepad found so (alone on
PATH), with one already open. Each case has its own home, TMPDIR, XDG_RUNTIME_DIR and session
bus, and every process it started is ended by its pid when it is over. A
summary of how each editor saves, what it does to the final newline and the
median time from the save keystroke to the frame ends the run.

Exits 0 when every case that could run passed, 77 when none could run (no
Xvfb, say), 1 on a failure. An editor that is not installed is skipped, by
name. --keep DIR keeps every case's directory (its home, the host's standard
error, the editors' logs) in DIR; a failing run keeps them in any case.
"""

import argparse
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import traceback

sys.dont_write_bytecode = True

import keyboard
from common import MARK, Skip, TestFailure, end_marked_processes, say, wait_for
from display import start_display
from editors import EDITORS
from host import HostRun

SKIP = 77
CASE_PATH = "/usr/local/bin:/usr/bin:/bin"
DEFAULT_ONE_OPEN = "default, one open"
TOOLS = ("Xvfb", "openbox", "xdotool", "wmctrl", "xmodmap", "dbus-daemon")
SAVE_SECONDS = 20  # from a save keystroke to the file holding the text
FRAME_SECONDS = 10  # from the file holding the text to its frame
EXIT_SECONDS = 20  # from the quit keystroke to the host's exit
EMPTY_SECONDS = 15  # for the editor's own files to go after it quit

# What the page holds when the edit starts: no final newline, unless the case
# says otherwise, so that what the editor does to it shows.
PAGE_TEXT = 'From the page: "quotes", a back\\slash, a\ttab, é 日本 🙂 and no final newline'


def typed_pieces(editor):
    emoji = " 🙂" if editor.emoji else ""
    return {
        # Plain ASCII first: a terminal editor that is still starting reads
        # the bytes of other characters as Meta keys (emacs -nw). Its save
        # shows the editor is ready.
        "ready": "Typed: ",
        "first": f'é 日本{emoji} "double" \'single\' back\\slash\tafter a tab\n',
        "second": "Second save\n",
        "quick": ["x", "y", "z"],
        "last": "Last words\n",
    }


class Case:
    def __init__(self, args, display, editor, kind):
        self.args = args
        self.editor = editor
        self.kind = kind  # "main", "hand-off", "plain", "default" or DEFAULT_ONE_OPEN
        self.one_open = kind in ("hand-off", "plain", DEFAULT_ONE_OPEN)
        self.host_path = None  # the host's PATH, when not the case's
        self.name = f"{editor.name} ({kind})"
        self.mark = f"{os.getpid()}-{len(editor.name)}-{kind}-{time.monotonic_ns()}"
        self.dir = tempfile.mkdtemp(prefix="case-", dir=args.work)
        self.home = os.path.join(self.dir, "home")
        self.tmp = os.path.join(self.dir, "tmp")
        self.runtime = os.path.join(self.dir, "run")
        for path in (self.home, self.tmp, self.runtime):
            os.makedirs(path, mode=0o700)
        self.env = {
            "PATH": CASE_PATH,
            "HOME": self.home,
            "TMPDIR": self.tmp,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_STATE_HOME": os.path.join(self.home, ".local", "state"),
            "LANG": "C.UTF-8",
            "NO_AT_BRIDGE": "1",
            MARK: self.mark,
            **display,
        }
        # emacs 28 compiles its packages natively in the background on its
        # first start, which slows it for a long while.
        os.makedirs(os.path.join(self.home, ".emacs.d"))
        with open(os.path.join(self.home, ".emacs.d", "early-init.el"), "w") as f:
            f.write("(setq native-comp-deferred-compilation nil)\n")
            # emacs -nw asks xterm about its capabilities when it starts, and
            # takes keys typed meanwhile for part of the answer.
            f.write("(setq xterm-extra-capabilities nil)\n")
        self.names_seen = set()
        self.inodes = []
        self.save_times = []
        self.newline = None
        self.torn = []

    def start_session_bus(self):
        address = f"unix:path={self.runtime}/bus"
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--address={address}"],
            env=self.env,
            stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.dir, "dbus.log"), "w"),
        )
        wait_for("session bus", 20, lambda: os.path.exists(f"{self.runtime}/bus"))
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def tmp_names(self):
        names = set(os.listdir(self.tmp))
        self.names_seen |= names
        return names

    def temp_file(self):
        names = [n for n in self.tmp_names() if n.startswith("zuraze_")]
        return os.path.join(self.tmp, names[0]) if len(names) == 1 else None

    def handed_path(self):
        try:
            with open(self.handed_file) as f:
                return f.read()
        except OSError:
            return None

    def read_file(self):
        try:
            with open(self.path, "rb") as f:
                content = f.read()
            self.inodes.append(os.stat(self.path).st_ino)
            return content.decode("utf-8", errors="replace")
        except OSError:
            return None

    def steps(self, steps):
        for what, argument in steps:
            if what == "key":
                keyboard.key(self.env, argument)
            elif what == "type":
                keyboard.type_text(self.env, argument)
            elif what == "save":
                self.save_pressed = time.monotonic()
                keyboard.key(self.env, argument)
            elif what == "wait-saved":
                self.wait_saved()
            else:
                raise ValueError(what)

    def type_piece(self, text):
        """Types text; a tab and a line break go as the keys a person
        presses (xdotool would type a line break as Linefeed, Ctrl+J)."""
        for i, line in enumerate(text.split("\n")):
            if i:
                keyboard.key(self.env, "Return")
            for j, part in enumerate(line.split("\t")):
                if j:
                    self.steps(self.editor.tab)
                keyboard.type_text(self.env, part)
        self.typed += text.replace("\t", self.editor.tab_inserts)

    def expected(self):
        return self.typed + self.page_text + ("\n" if self.newline == "adds" else "")

    def wait_saved(self):
        """Waits until the file holds what was typed; the first save tells
        what the editor does to the final newline."""
        kept = self.typed + self.page_text

        def saved():
            self.tmp_names()
            content = self.read_file()
            if self.newline is None and content in (kept, kept + "\n"):
                self.newline = "keeps" if content == kept else "adds"
            return content is not None and content == self.expected()

        try:
            wait_for("save", SAVE_SECONDS, saved)
        except TestFailure:
            raise TestFailure(f"the file never held {self.expected()!r}; it holds {self.read_file()!r}") from None
        if self.saved_states[-1:] != [self.expected()]:
            self.saved_states.append(self.expected())

    def wait_frame(self, text, since):
        """Waits for a frame holding text that arrived after since; gives
        its arrival."""

        def arrived():
            for when, frame in self.host.frame_list():
                if when >= since and frame == text:
                    return when
            return None

        try:
            return wait_for("frame", FRAME_SECONDS, arrived)
        except TestFailure:
            frames = [frame for _, frame in self.host.frame_list()]
            raise TestFailure(f"no frame of {text!r} within {FRAME_SECONDS} s; frames: {frames}") from None

    def save(self, timed=True):
        self.steps(self.editor.save)
        pressed = self.save_pressed
        self.wait_saved()
        arrival = self.wait_frame(self.saved_states[-1], pressed)
        if timed:
            self.save_times.append(arrival - pressed)

    def open_before(self):
        """Opens the editor on another file, as a person has it open
        already; gives its window."""
        other = os.path.join(self.home, "other.txt")
        with open(other, "w") as f:
            f.write("Another file, open before the edit\n")
        subprocess.Popen(
            list(self.editor.open_before) + [other],
            env=self.env,
            cwd=self.home,
            stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.dir, "open-before.log"), "w"),
        )
        window = keyboard.find_window(self.env, self.editor.window_class, r"other\.txt")
        say(f"  {' '.join(self.editor.open_before)} already open on other.txt")
        return window

    def request(self):
        request = {"text": self.page_text, "ext": "txt", **self.editor.request}
        if self.kind.startswith("default"):
            del request["editor"]
            request.pop("args", None)
        if self.kind == "plain":
            # Started as the user would name it, but through a script of its
            # own name, where the host would add the option by the editor's
            # name. The script notes the file's path: the edit may be over,
            # and the file gone, before a look at the directory could see it.
            request.pop("args", None)
            bin_dir = os.path.join(self.home, "bin")
            os.makedirs(bin_dir)
            script = os.path.join(bin_dir, "plain-" + self.editor.programs[0])
            with open(script, "w") as f:
                f.write(
                    "#!/bin/sh\n"
                    'for file; do :; done\n'
                    f"printf '%s' \"$file\" > {shlex.quote(self.handed_file)}\n"
                    f'exec {shlex.quote(shutil.which(request["editor"], path=CASE_PATH))} "$@"\n'
                )
            os.chmod(script, 0o755)
            request["editor"] = script
        return request

    def start_host(self):
        env = dict(self.env, PATH=self.host_path) if self.host_path else self.env
        self.handed_file = os.path.join(self.dir, "handed-file")
        self.host = HostRun(self.args.host, self.request(), env, os.path.join(self.dir, "host-stderr"))
        if self.kind == "plain":
            self.path = wait_for("file handed to the editor", 20, self.handed_path)
        else:
            self.path = wait_for("temporary file", 20, self.temp_file)
        name = os.path.basename(self.path)
        return self.editor.title.replace("{file}", re.escape(name))

    def run(self):
        self.start_session_bus()
        if self.kind == DEFAULT_ONE_OPEN:
            # The editor's directory is the host's whole PATH, so that it is
            # the first of the default editors found.
            bin_dir = os.path.join(self.home, "bin")
            os.makedirs(bin_dir)
            program = self.editor.programs[0]
            os.symlink(shutil.which(program, path=CASE_PATH), os.path.join(bin_dir, program))
            self.host_path = bin_dir
        other_windows = ()
        if self.one_open:
            other_windows = (self.open_before(),)
        self.page_text = PAGE_TEXT if self.kind == "main" else PAGE_TEXT + "\n"
        self.typed = ""
        self.saved_states = []
        title = self.start_host()
        if self.kind == "plain":
            self.run_handed_off(other_windows[0], title)
        else:
            self.run_edit(other_windows, title)
        self.wait_for_editor_gone()
        wait_for_empty = lambda: not self.tmp_names()
        try:
            wait_for("empty temporary directory", EMPTY_SECONDS, wait_for_empty, 0.2)
        except TestFailure:
            raise TestFailure(f"left in the temporary directory: {sorted(self.tmp_names())}") from None

    def run_handed_off(self, other_window, title):
        """The editor, without its option to stay, hands the file to the
        window already open and exits: the host sends the text back as it
        was, says why the edit ended at once, and exits 0."""
        started = time.monotonic()
        status = self.host.finish(EXIT_SECONDS)
        say(f"  host exited {time.monotonic() - started:.2f} s after its start")
        if self.host.garbage:
            raise TestFailure(f"the host's standard output held {self.host.garbage}")
        frames = [frame for _, frame in self.host.frame_list()]
        stderr = self.host.stderr()
        if status != 0 or frames != [self.page_text]:
            raise TestFailure(f"status {status}, frames {frames}; standard error {stderr!r}")
        message = re.fullmatch(
            r"The editor (.+) exited (\d+) ms after it started without changing the file; it may have handed "
            r"the file to a window that was already open \(see zuraze-host\(1\)\)\n",
            stderr,
        )
        if not message or int(message.group(2)) >= 1000:
            raise TestFailure(f"the host did not say that the editor exited at once: {stderr!r}")
        say(f"  the host said: {stderr.strip()!r}")
        # The file went to the window already open.
        keyboard.find_window(self.env, self.editor.window_class, title)
        keyboard.activate(self.env, other_window)
        self.steps(self.editor.quit_open)

    def run_edit(self, other_windows, title):
        exclude = () if self.editor.same_window else other_windows
        window = keyboard.find_window(self.env, self.editor.window_class, title, exclude)
        say(f"  window {window}: {keyboard.window_title(self.env, window)!r}")
        keyboard.activate(self.env, window)
        self.steps(self.editor.begin)
        pieces = typed_pieces(self.editor)

        self.type_piece(pieces["ready"])
        self.save()
        self.type_piece(pieces["first"])
        self.save()
        self.type_piece(pieces["second"])
        self.save()
        for letter in pieces["quick"]:
            self.type_piece(letter)
            self.steps(self.editor.save)
            if self.newline is not None:
                self.saved_states.append(self.expected())
        self.wait_saved()
        self.wait_frame(self.saved_states[-1], self.save_pressed)
        self.type_piece(pieces["last"])
        if self.host.exited():
            raise TestFailure(f"the host exited before the editor quit: {self.host.stderr()!r}")
        if self.one_open and self.editor.save_and_close:
            self.steps(self.editor.save_and_close)
        else:
            self.steps(self.editor.save_and_quit)
        quit_pressed = time.monotonic()
        status = self.host.finish(EXIT_SECONDS)
        exit_seconds = time.monotonic() - quit_pressed
        self.check_output(status)
        say(f"  host exited 0 {exit_seconds:.2f} s after the quit keystroke, {len(self.host.frames)} frames")

        if other_windows:
            keyboard.activate(self.env, other_windows[0])
            self.steps(self.editor.quit_open)

    def check_output(self, status):
        if self.host.garbage:
            raise TestFailure(f"the host's standard output held {self.host.garbage}")
        stderr = self.host.stderr()
        if status != 0:
            raise TestFailure(f"the host exited with status {status}; its standard error: {stderr!r}")
        frames = [frame for _, frame in self.host.frame_list()]
        if not frames or frames[-1] != self.expected():
            raise TestFailure(f"the last frame is not the final text {self.expected()!r}: {frames[-1:]}")
        # Every frame is a text the editor saved, in the order it saved them.
        # A save in place truncates the file before it writes it; a frame
        # read in between holds the start of the next text (an editor that
        # stalls between the two, on a loaded machine). The frame of the
        # whole text follows; such torn frames are counted and shown.
        states = [self.page_text] + self.saved_states + [self.expected()]
        position = 0
        for frame in frames:
            following = states[position + 1] if position + 1 < len(states) else ""
            if frame not in (states[position], following) and following.startswith(frame):
                self.torn.append(frame)
                continue
            while position < len(states) and states[position] != frame:
                position += 1
            if position == len(states):
                raise TestFailure(f"a frame holds a text the editor never saved, or out of order: {frame!r}")
        if self.torn:
            say(f"  {len(self.torn)} frame(s) read during a save: {[t[:40] for t in self.torn]}")
        if stderr:
            say(f"  host's standard error: {stderr!r}")

    def wait_for_editor_gone(self):
        """Waits for the processes of the edit to end by themselves; the
        session bus and what it started stay until the case is over. (The
        window that took the file in the plain case may ask about the file
        that the host removed, so it gets less time.)"""
        seconds = EMPTY_SECONDS if self.kind != "plain" else 5

        def gone():
            left = marked_after_quit(self.mark, self.bus.pid)
            return not left

        try:
            wait_for("end of the editor's processes", seconds, gone, 0.2)
        except TestFailure:
            say(f"  still running after the quit: {marked_after_quit(self.mark, self.bus.pid)}")

    def summary(self):
        if self.kind == "plain":
            return {"case": self.name, "saves": "-", "others": "-", "newline": "-", "torn": 0, "median": None,
                    "note": "handed the file over"}
        in_place = len(set(self.inodes)) == 1
        name = os.path.basename(self.path)
        others = sorted(
            {
                n.replace(name, "FILE") if len(n) < 40 else n[:16] + "..."
                for n in self.names_seen
                if n != name
            }
        )
        return {
            "case": self.name,
            "saves": "in place" if in_place else "replaces the file",
            "others": ", ".join(others) or "none",
            "newline": self.newline if not self.page_text.endswith("\n") else "(had one)",
            "torn": len(self.torn),
            "median": statistics.median(self.save_times) if self.save_times else None,
        }

    def end(self):
        ended = end_marked_processes(self.mark)
        if ended:
            say(f"  ended: {'; '.join(p[:80] for p in ended)}")


def started_by_bus(pid):
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            return any(v.startswith(b"DBUS_STARTER_BUS_TYPE=") for v in f.read().split(b"\0"))
    except OSError:
        return False


def marked_after_quit(mark, bus_pid):
    """The case's processes but its session bus and the services that the
    bus started (gedit's, dconf), which live as long as the bus."""
    from common import marked_processes

    return {
        pid: argv
        for pid, argv in marked_processes(mark).items()
        if pid != bus_pid and not started_by_bus(pid)
    }


def cases_of(editor):
    kinds = ["main"]
    if editor.open_before:
        kinds.append("hand-off")
    if editor.stay_option:
        kinds.append("plain")
    if editor.name == "gvim":
        kinds.append("default")
    if editor.host_adds_option:
        kinds.append(DEFAULT_ONE_OPEN)
    return kinds


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", required=True)
    parser.add_argument("--only", action="append", help="run only the editors whose name starts with this")
    parser.add_argument("--keep", help="keep the cases' directories and logs in this directory")
    args = parser.parse_args()
    args.host = os.path.abspath(args.host)

    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print(f"SKIPPED: the real-editor test needs {', '.join(missing)} (scripts/install-deps installs them)")
        return SKIP

    if args.keep:
        os.makedirs(args.keep, exist_ok=True)
        args.work = tempfile.mkdtemp(prefix="real-editors-", dir=args.keep)
    else:
        args.work = tempfile.mkdtemp(prefix="zuraze-real-editors-")
    display_mark = f"display-{os.getpid()}-{time.monotonic_ns()}"
    failures, skipped, results = [], [], []
    try:
        display = start_display(args.work, display_mark)
        for editor in EDITORS:
            if args.only and not any(editor.name.startswith(prefix) for prefix in args.only):
                continue
            absent = [program for program in editor.programs if not shutil.which(program, path=CASE_PATH)]
            if absent:
                say(f"SKIPPED {editor.name}: {', '.join(absent)} not installed")
                skipped.append(editor.name)
                continue
            for kind in cases_of(editor):
                case = Case(args, display, editor, kind)
                say(f"{case.name}: {case.dir}")
                started = time.monotonic()
                try:
                    case.run()
                    results.append(case.summary())
                    say(f"  passed in {time.monotonic() - started:.1f} s")
                except (TestFailure, Skip) as failure:
                    say(f"  FAILED: {failure}")
                    say(f"  host's standard error: {case.host.stderr()!r}" if hasattr(case, "host") else "  (no host)")
                    failures.append(case.name)
                except Exception:
                    traceback.print_exc()
                    failures.append(case.name)
                finally:
                    case.end()
    finally:
        end_marked_processes(display_mark)

    print_summary(results)
    if skipped:
        say(f"skipped, not installed: {', '.join(skipped)}")
    if failures:
        say(f"FAILED: {', '.join(failures)}; logs in {args.work}")
        return 1
    if not args.keep:
        shutil.rmtree(args.work, ignore_errors=True)
    if not results:
        print("SKIPPED: no editor could run")
        return SKIP
    say(f"all {len(results)} cases passed")
    return 0


def print_summary(results):
    if not results:
        return
    rows = [("case", "how it saves", "other files seen beside the file", "final newline", "save to frame, median", "torn frames")]
    for r in results:
        median = f"{r['median'] * 1000:.0f} ms" if r["median"] is not None else "-"
        rows.append((r["case"], r["saves"], r["others"], r["newline"], median, str(r["torn"])))
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    for row in rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


if __name__ == "__main__":
    sys.exit(main())
