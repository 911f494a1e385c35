"""What every part of the browser test shares: its log and its bounded waits."""

import threading
import time

START = time.monotonic()
SAY_LOCK = threading.Lock()


class TestFailure(Exception):
    pass


def say(line):
    """Prints a line of the run's log, with the seconds since the start."""
    with SAY_LOCK:
        print(f"[{time.monotonic() - START:6.1f} s] {line}", flush=True)


def wait_for(what, seconds, ready, browser=None):
    """Polls ready() until it gives a true value, which it returns; fails
    after `seconds`, or as soon as the browser has exited."""
    deadline = time.monotonic() + seconds
    while True:
        value = ready()
        if value:
            return value
        if browser is not None and browser.poll() is not None:
            raise TestFailure(f"the browser exited with status {browser.returncode} while waiting for {what}")
        if time.monotonic() > deadline:
            raise TestFailure(f"no {what} within {seconds} s")
        time.sleep(0.1)
