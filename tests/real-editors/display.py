"""The virtual X display every case types into: Xvfb, picked by -displayfd,
with Openbox, so that windows can be activated through a window manager, and
a keyboard map that has keys for the test's non-ASCII characters."""

import os
import subprocess

from common import MARK, TestFailure, run, say, wait_for

START_SECONDS = 30

# Characters typed that a US keyboard lacks. xdotool would otherwise remap a
# key for each, and some editors drop the keystrokes that follow a remap.
EXTRA_CHARACTERS = "éèüñ日本語🙂"


def start_display(work, mark):
    """Starts Xvfb and Openbox, marked with mark; gives the environment
    variables that reach the display."""
    read_end, write_end = os.pipe()
    env = dict(os.environ, **{MARK: mark})
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
        pass_fds=(write_end,),
        env=env,
        stdout=subprocess.DEVNULL,
        stderr=open(os.path.join(work, "xvfb.log"), "w"),
    )
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                raise TestFailure(f"Xvfb exited with status {xvfb.wait()} before giving its display")
            number += chunk
    display = {"DISPLAY": ":" + number.decode().strip()}
    env.update(display)
    home = os.path.join(work, "display-home")
    os.makedirs(home, exist_ok=True)
    env["HOME"] = home
    subprocess.Popen(
        ["openbox"],
        env=env,
        stdout=subprocess.DEVNULL,
        stderr=open(os.path.join(work, "openbox.log"), "w"),
    )
    wait_for(
        "window manager",
        START_SECONDS,
        lambda: subprocess.run(["wmctrl", "-m"], env=env, capture_output=True).returncode == 0,
        0.1,
    )
    map_extra_characters(env)
    say(f"display {display['DISPLAY']} with Openbox")
    return display


def map_extra_characters(env):
    """Gives unused keycodes the extra characters, as a keyboard layout that
    has them would."""
    free = []
    for line in run(["xmodmap", "-pke"], env).splitlines():
        keycode, _, keysyms = line.partition("=")
        if not keysyms.strip():
            free.append(int(keycode.split()[1]))
    if len(free) < len(EXTRA_CHARACTERS):
        raise TestFailure(f"only {len(free)} free keycodes for {len(EXTRA_CHARACTERS)} characters")
    expressions = []
    for keycode, character in zip(free[-len(EXTRA_CHARACTERS):], EXTRA_CHARACTERS):
        keysym = f"U{ord(character):04X}"
        expressions += ["-e", f"keycode {keycode} = {keysym} {keysym}"]
    run(["xmodmap"] + expressions, env)
