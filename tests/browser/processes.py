"""The test's namespaces and its processes.

The driver runs as the first process of new network, mount and PID
namespaces: only loopback exists in them, so nothing the browser does can
leave the machine, and every other process in them was started by the test.
If the driver dies, the kernel kills them all; unshare, which waits outside,
kills the driver if unshare itself is killed (by ctest's timeout, say).
"""

import os
import signal
import socket
import subprocess
import sys
import time

from harness import TestFailure, say

STOP_SECONDS = 10


def enter_namespaces(script, arguments):
    """Runs script again with arguments and --in-namespaces inside the new
    namespaces; does not return."""
    command = ["unshare", "--net", "--pid", "--fork", "--kill-child", "--mount-proc"]
    if os.geteuid() != 0:
        command.insert(1, "--map-root-user")
    os.execvp(command[0], command + [sys.executable, script, "--in-namespaces"] + arguments)


def check_namespaces():
    """Brings up loopback, and fails unless the namespaces are the test's own
    and loopback is all the network there is."""
    if os.getpid() != 1:
        raise TestFailure("not the first process of its own PID namespace; run without --in-namespaces")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    interfaces = sorted(name for _, name in socket.if_nameindex())
    if interfaces != ["lo"]:
        raise TestFailure(f"the test's network namespace has more than loopback: {interfaces}")


def other_processes():
    """pid -> argv of every process in the namespace but this one, zombies
    aside."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv = f.read().split(b"\0")[:-1]
        except OSError:
            continue
        if argv:
            found[int(entry)] = [arg.decode(errors="replace") for arg in argv]
    return found


def running(program):
    return [pid for pid, argv in other_processes().items() if argv[0] == program]


def reap():
    """Collects every child that has ended; orphans of the namespace are the
    driver's children."""
    try:
        while os.waitpid(-1, os.WNOHANG)[0] > 0:
            pass
    except ChildProcessError:
        pass


def stop_everything(browser):
    """Lets the browser stop on SIGTERM, then kills by PID whatever is left
    of its processes, the hosts' and the editors', and reaps them. Gives the
    problems met."""
    if browser is not None and browser.poll() is None:
        browser.terminate()
        try:
            browser.wait(STOP_SECONDS)
        except subprocess.TimeoutExpired:
            say(f"the browser did not stop within {STOP_SECONDS} s of SIGTERM")
    deadline = time.monotonic() + STOP_SECONDS
    killed = set()
    while True:
        reap()
        left = other_processes()
        if not left:
            return []
        if time.monotonic() > deadline:
            return [f"processes still alive {STOP_SECONDS} s after SIGKILL: {sorted(left)}"]
        for pid, argv in left.items():
            if pid not in killed:
                say(f"killing what is left: pid {pid}, {' '.join(argv)[:100]}")
                killed.add(pid)
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.05)
