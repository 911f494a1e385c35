"""What every part of the real-editor test shares: its log, its bounded
waits, and the processes it started."""

import os
import signal
import subprocess
import time

START = time.monotonic()


class TestFailure(Exception):
    pass


class Skip(Exception):
    pass


def say(line):
    """Prints a line of the run's log, with the seconds since the start."""
    print(f"[{time.monotonic() - START:6.1f} s] {line}", flush=True)


def wait_for(what, seconds, ready, interval=0.05):
    """Polls ready() until it gives a true value, which it returns; fails
    after `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        value = ready()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TestFailure(f"no {what} within {seconds} s")
        time.sleep(interval)


def run(command, env, seconds=30, check=True):
    """Runs a short command to its end; gives its standard output."""
    try:
        done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=seconds)
    except subprocess.TimeoutExpired:
        raise TestFailure(f"{command[0]} did not finish within {seconds} s: {' '.join(command)}")
    if check and done.returncode != 0:
        raise TestFailure(f"{' '.join(command)} failed with status {done.returncode}: {done.stderr.strip()}")
    return done.stdout


MARK = "ZURAZE_REAL_EDITOR_MARK"


def marked_processes(mark):
    """pid -> command line of every process whose environment holds
    MARK=mark: every process a case started, and every process those started
    in turn (services the case's session bus started included)."""
    wanted = f"{MARK}={mark}".encode()
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if wanted not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv = f.read().split(b"\0")[:-1]
            with open(f"/proc/{entry}/stat", "rb") as f:
                if f.read().rsplit(b")", 1)[1].split()[0] == b"Z":
                    continue
        except (OSError, IndexError):
            continue
        found[int(entry)] = b" ".join(argv).decode(errors="replace")
    return found


def reap():
    try:
        while os.waitpid(-1, os.WNOHANG)[0] > 0:
            pass
    except ChildProcessError:
        pass


def end_marked_processes(mark, seconds=10):
    """Ends every process marked with mark, by its pid: SIGTERM first, then
    SIGKILL to what is left after a while. Gives the command lines of those
    that had to be ended."""
    ended = {}
    deadline = time.monotonic() + seconds
    term_until = time.monotonic() + seconds / 2
    while True:
        reap()
        left = marked_processes(mark)
        if not left:
            return sorted(ended.values())
        if time.monotonic() > deadline:
            raise TestFailure(f"processes still alive after SIGKILL: {left}")
        sig = signal.SIGTERM if time.monotonic() < term_until else signal.SIGKILL
        for pid, argv in left.items():
            if pid not in ended or sig == signal.SIGKILL:
                ended[pid] = argv
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
        time.sleep(0.1)
