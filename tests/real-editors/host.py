"""Plays the browser against the built host: one request frame on its
standard input, every response frame on its standard output read as it
arrives, with the time it arrived."""

import json
import os
import struct
import subprocess
import sys
import threading
import time

from common import TestFailure


class HostRun:
    def __init__(self, host, request, env, stderr_path):
        body = json.dumps(request).encode()
        self.stderr_path = stderr_path
        self.process = subprocess.Popen(
            [host],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=open(stderr_path, "wb"),
            env=env,
        )
        self.started = time.monotonic()
        self.frames = []  # (arrival on the monotonic clock, text)
        self.garbage = None  # what on standard output was not a response frame
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.process.stdin.write(struct.pack("=I", len(body)) + body)
        self.process.stdin.close()

    def _read(self):
        out = self.process.stdout
        while True:
            header = out.read(4)
            if not header:
                return
            if len(header) < 4:
                self.garbage = f"{len(header)} bytes after the last frame"
                return
            (length,) = struct.unpack("=I", header)
            body = out.read(length)
            arrived = time.monotonic()
            if len(body) < length:
                self.garbage = f"a frame of {length} bytes cut off after {len(body)}"
                return
            try:
                document = json.loads(body.decode("utf-8"))
            except ValueError as error:
                self.garbage = f"a frame that is not JSON ({error}): {body[:80]!r}"
                return
            if not isinstance(document, dict) or list(document) != ["text"] or not isinstance(document["text"], str):
                self.garbage = f"a frame that is not a response: {body[:80]!r}"
                return
            with self.lock:
                self.frames.append((arrived, document["text"]))

    def frame_list(self):
        with self.lock:
            return list(self.frames)

    def exited(self):
        return self.process.poll() is not None

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode(errors="replace")

    def finish(self, seconds):
        """Waits for the host's exit and the end of its output; gives the
        exit status."""
        try:
            status = self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            raise TestFailure(f"the host did not exit within {seconds} s")
        self.reader.join(seconds)
        if self.reader.is_alive():
            raise TestFailure("the host's standard output stayed open after it exited")
        return status
