"""The edits that the browser test runs, all at once in one browser, and what
each must give."""

import glob
import json
import os
import re

# The most that both browsers accept in one message from a host.
MESSAGE_LIMIT = 1048576

# How the port ends, per browser: after the host has exited, and after the
# host sent one byte more than the limit.
PORT_END = {
    "chromium": {
        "exit": "Native host has exited.",
        "over": "Error when communicating with the native messaging host.",
    },
    "firefox": {
        "exit": None,
        "over": f"Native application tried to send a message of {MESSAGE_LIMIT + 1} bytes, "
        f"which exceeds the limit of {MESSAGE_LIMIT} bytes.",
    },
}
# The extension's own disconnect, as its worker reports it.
LET_GO = "disconnected by the extension"


def json_body_length(text):
    """The length of the frame body {"text":"..."} that the host sends for
    text, escaped as the host's JSON printer escapes it."""
    escaped = 0
    for ch in text:
        if ch in '"\\\b\f\n\r\t':
            escaped += 2
        elif ord(ch) < 0x20:
            escaped += 6
        else:
            escaped += len(ch.encode("utf-8"))
    return len('{"text":""}') + escaped


def text_with_body_length(length):
    """A text of escapes and multi-byte characters whose frame body is
    exactly `length` bytes long: the limit counts the escaped JSON."""
    unit = 'line "quoted" \\ é 中 🦊\t\x01\n'
    text = unit * ((length - json_body_length("")) // json_body_length(unit) - 1)
    return text + "x" * (length - json_body_length(text))


ESCAPE_HEAVY = (
    "Zuraze «test» — naïve café, Straße, Ελληνικά, 中文, 日本語, 한국어, עברית, العربية; "
    "🦊 👩‍💻 𝄞 e\u0301; quotes \" ' back\\slash \\u0041 \\n not escapes; "
    "tab\there, cr\r, lf\n, crlf\r\n, controls \x01\x02\x1b\x1f, del \x7f, "
    "separators \u2028 \u2029, bom \ufeff, replacement \ufffd, end"
)
APPENDED = '\n+ appended: ✓ "ok" \\ \t ☃\n'
SECOND_SAVE = 'second save: {"text": "not JSON inside"} \\n 💾 ❤️ é\u0301 \x1b[0m\r\n'
THIRD_SAVE = "third save, by rename: Ωmega 𐍈 </script> \u2028 end"
AT_LIMIT = text_with_body_length(MESSAGE_LIMIT)
OVER_LIMIT = text_with_body_length(MESSAGE_LIMIT + 1)

# The scripted editor's steps for the three saves, seconds apart; "record"
# leaves its arguments, the file's path last, for check_temporary_files.
SAVES_STEPS = [
    "record",
    "sleep=2",
    f"append={APPENDED}",
    "sleep=2",
    f"write={SECOND_SAVE}",
    "sleep=2",
    f"rename={THIRD_SAVE}",
    "sleep=1",
    "exit=0",
]


# Last saves that the page cannot get as they are: the file is kept.
NUL_FILE = b"before\0after"
LATIN1_FILE = b"caf\xe9 cr\xe8me"
# Saved after the extension let go of the port, and before the browser stops.
LATER_SAVE = "later save, after the page let go"
SAVED_BEFORE_STOP = "saved before the browser stops"
# The case whose edit is still open when the test stops the browser.
STOPPED_CASE = "browser stopped"
LATER_SAVE_MARK = "later-save"


def octal_escaped(data):
    """The scripted editor's bytes= form of data."""
    return "".join(chr(b) if 0x20 < b < 0x7F and chr(b) not in "\\\\%" else f"\\{b:03o}" for b in data)


def host_warning(length):
    return (
        f"Response of {length} bytes exceeds the browsers' limit of {MESSAGE_LIMIT} bytes; "
        "the browser will close the connection"
    )


def make_cases(editor):
    """Each case: the request, the texts of the responses in order, how the
    port ends ("exit" or "over", see PORT_END) and a line of the host's that
    the browser's log must show."""
    return [
        {
            "name": "three saves",
            "request": {"text": ESCAPE_HEAVY, "editor": editor, "args": SAVES_STEPS, "ext": "md"},
            "responses": [ESCAPE_HEAVY + APPENDED, SECOND_SAVE, THIRD_SAVE, THIRD_SAVE],
            "end": "exit",
            "diagnostic": None,
        },
        {
            "name": "editor not on PATH",
            "request": {"text": "unseen", "editor": "zuraze-test-no-such-editor"},
            "responses": [],
            "end": "exit",
            "diagnostic": "Editor not found",
        },
        {
            "name": "editor path missing",
            "request": {"text": "unseen", "editor": "/nonexistent/zuraze-test-editor"},
            "responses": [],
            "end": "exit",
            "diagnostic": "Failed to spawn editor process: no such file or directory",
        },
        {
            "name": "at the limit",
            "request": {"text": AT_LIMIT, "editor": editor, "args": ["sleep=1"]},
            "responses": [AT_LIMIT],
            "end": "exit",
            "diagnostic": None,
        },
        {
            "name": "one byte over",
            "request": {"text": OVER_LIMIT, "editor": editor, "args": ["sleep=1"]},
            "responses": [],
            "end": "over",
            "diagnostic": host_warning(MESSAGE_LIMIT + 1),
        },
        {
            "name": "last save with a NUL byte",
            "request": {"text": "unseen", "editor": editor, "args": [f"bytes={octal_escaped(NUL_FILE)}", "sleep=1"]},
            "responses": ["before"],
            "end": "exit",
            "diagnostic": "The edited text holds a NUL byte, so the page got only what precedes it; "
            "the whole text is kept in ",
        },
        {
            "name": "last save in Latin-1",
            "request": {
                "text": "unseen",
                "editor": editor,
                "args": [f"bytes={octal_escaped(LATIN1_FILE)}", "sleep=1"],
            },
            "responses": ["caf\ufffd cr\ufffdme"],
            "end": "exit",
            "diagnostic": "The edited text holds bytes that are not UTF-8, which the browser replaces; "
            "the original is kept in ",
        },
        {
            # The extension lets go after the first save; the editor saves
            # again and exits well within Firefox's 3 s before SIGTERM.
            "name": "extension lets go",
            "request": {
                "text": "unseen",
                "editor": editor,
                "args": ["sleep=1", "write=first save", "sleep=1.5", f"write={LATER_SAVE}",
                         f"mark={LATER_SAVE_MARK}"],
            },
            "disconnectAfter": 1,
            "responses": ["first save"],
            "end": "let go",
            "diagnostic": "The browser closed the connection; the edited text is kept in ",
        },
        {
            # Still open when the test stops the browser, after every other
            # case: no report, the file is checked instead.
            "name": STOPPED_CASE,
            "request": {
                "text": "unseen",
                "editor": editor,
                "args": ["sleep=1", f"write={SAVED_BEFORE_STOP}", "sleep=60"],
            },
            "reports": False,
        },
    ]


def describe_mismatch(message, want):
    if not isinstance(message, dict) or set(message) != {"text"} or not isinstance(message["text"], str):
        return f'not {{"text": string}}: {json.dumps(message)[:200]}'
    text = message["text"]
    at = next((i for i, (a, b) in enumerate(zip(text, want)) if a != b), min(len(text), len(want)))
    return (
        f"{len(text)} characters where {len(want)} were expected; at {at}, "
        f"got {text[max(0, at - 20):at + 20]!r}, expected {want[max(0, at - 20):at + 20]!r}"
    )


def check_case(case, result, browser, diagnostics):
    """Gives the problems of one case, given what the extension reported."""
    if not case.get("reports", True):
        return []
    if result is None:
        return ["no report from the extension"]
    problems = []
    got = result["messages"]
    for i, (message, text) in enumerate(zip(got, case["responses"])):
        if message != {"text": text}:
            problems.append(f"response {i + 1}: {describe_mismatch(message, text)}")
    if len(got) != len(case["responses"]):
        problems.append(f"{len(got)} responses where {len(case['responses'])} were expected")
    expected_end = LET_GO if case["end"] == "let go" else PORT_END[browser][case["end"]]
    if result["error"] != expected_end:
        problems.append(f"the port ended with error {result['error']!r}, expected {expected_end!r}")
    if case["diagnostic"] and not has_line(diagnostics, case["diagnostic"]):
        problems.append(f"the host's line {case['diagnostic']!r} is not in the browser's log")
    return problems


def has_line(diagnostics, start):
    """Whether a line of the host's begins with start (a kept file's path
    follows some lines)."""
    return any(line.startswith(start) for line in diagnostics)


def check_all(cases, results, browser, diagnostics):
    problems = []
    for case in cases:
        found = check_case(case, results.get(case["name"]), browser, diagnostics)
        problems += [f"{case['name']}: {problem}" for problem in found]
    warning = host_warning(MESSAGE_LIMIT + 1)
    unexpected = [line for line in diagnostics if line.startswith("Response of ") and line != warning]
    if unexpected:
        problems.append(f"warnings about sizes that the browser accepts: {unexpected}")
    return problems


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def check_temporary_files(tmp, marks, editor):
    """The file of the three saves was in the browser's TMPDIR, with the
    extension asked for, and is gone; the files left are those the host
    keeps, one each: the text that the browser refused, the last saves with a
    NUL byte and in Latin-1, the save after the extension let go and the one
    of the edit that was open when the browser stopped."""
    try:
        recorded = [arg.decode() for arg in read_bytes(os.path.join(marks, "args")).split(b"\0")[:-1]]
    except OSError as error:
        return [f"the editor of the three saves left no record of its arguments: {error}"]
    problems = []
    if recorded[:-1] != [editor] + SAVES_STEPS:
        problems.append(f"the editor got {recorded[:-1]!r}, expected {[editor] + SAVES_STEPS!r}")
    edited = recorded[-1]
    if not re.fullmatch(re.escape(tmp) + r"/zuraze_[A-Za-z0-9]{8}\.md", edited):
        problems.append(f"the edited file {edited} is not zuraze_XXXXXXXX.md in the browser's TMPDIR {tmp}")
    if os.path.lexists(edited):
        problems.append(f"the edited file {edited} is still there")

    left = glob.glob(os.path.join(tmp, "zuraze_*"))
    kept_texts = {
        "the text that was over the limit": OVER_LIMIT.encode(),
        "the last save with a NUL byte": NUL_FILE,
        "the last save in Latin-1": LATIN1_FILE,
        "the save after the extension let go": LATER_SAVE.encode(),
        "the save before the browser stopped": SAVED_BEFORE_STOP.encode(),
    }
    contents = {path: read_bytes(path) for path in left}
    kept = []
    for what, data in kept_texts.items():
        holding = [path for path in left if contents[path] == data]
        if len(holding) != 1:
            problems.append(f"{len(holding)} files hold {what}, expected 1")
        kept += holding
    others = sorted(set(left) - set(kept))
    if others:
        problems.append(f"temporary files left behind: {others}")
    return problems
