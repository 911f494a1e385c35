"""Typing into a window as a person does: find it by class and title,
activate it through the window manager, then send keystrokes with xdotool
(XTEST), which reach the focused window only."""

import re
import subprocess
import time

from common import TestFailure, run, wait_for

WINDOW_SECONDS = 60
FOCUS_SECONDS = 15
KEY_DELAY_MS = "25"


def visible_windows(env, window_class):
    found = subprocess.run(
        ["xdotool", "search", "--onlyvisible", "--class", window_class], env=env, capture_output=True, text=True
    )
    return [int(line) for line in found.stdout.split()]


def window_title(env, window):
    done = subprocess.run(["xdotool", "getwindowname", str(window)], env=env, capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else None


def find_window(env, window_class, title_pattern, exclude=(), seconds=WINDOW_SECONDS):
    """Waits for a visible window of window_class whose title matches
    title_pattern (a regular expression), other than those in exclude."""

    def matching():
        for window in visible_windows(env, window_class):
            title = window_title(env, window)
            if window not in exclude and title is not None and re.search(title_pattern, title):
                return window
        return None

    try:
        return wait_for(f"{window_class} window titled /{title_pattern}/", seconds, matching, 0.2)
    except TestFailure as failure:
        titles = {w: window_title(env, w) for w in visible_windows(env, window_class)}
        raise TestFailure(f"{failure}; {window_class} windows: {titles}") from None


def active_window(env):
    done = subprocess.run(["xdotool", "getactivewindow"], env=env, capture_output=True, text=True)
    return int(done.stdout) if done.returncode == 0 and done.stdout.strip() else None


def activate(env, window):
    """Activates window through the window manager and waits until it has
    the focus; asks again now and then, as a click would."""
    deadline = time.monotonic() + FOCUS_SECONDS
    while active_window(env) != window:
        if time.monotonic() > deadline:
            raise TestFailure(f"window {window} ({window_title(env, window)!r}) never got the focus")
        subprocess.run(["wmctrl", "-i", "-a", hex(window)], env=env, capture_output=True, timeout=10)
        for _ in range(10):
            if active_window(env) == window:
                break
            time.sleep(0.1)
    time.sleep(0.2)


def key(env, *keys):
    run(["xdotool", "key", "--delay", KEY_DELAY_MS] + list(keys), env)


def type_text(env, text):
    if text:
        run(["xdotool", "type", "--delay", KEY_DELAY_MS, "--", text], env)
