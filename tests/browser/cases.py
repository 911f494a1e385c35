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
    if result is None:
        return ["no report from the extension"]
    problems = []
    got = result["messages"]
    for i, (message, text) in enumerate(zip(got, case["responses"])):
        if message != {"text": text}:
            problems.append(f"response {i + 1}: {describe_mismatch(message, text)}")
    if len(got) != len(case["responses"]):
        problems.append(f"{len(got)} responses where {len(case['responses'])} were expected")
    expected_end = PORT_END[browser][case["end"]]
    if result["error"] != expected_end:
        problems.append(f"the port ended with error {result['error']!r}, expected {expected_end!r}")
    if case["diagnostic"] and case["diagnostic"] not in diagnostics:
        problems.append(f"the host's line {case['diagnostic']!r} is not in the browser's log")
    return problems


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
    extension asked for, and is gone; the one file left holds the text that
    the browser refused, kept as the host promises."""
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
    kept = [path for path in left if read_bytes(path) == OVER_LIMIT.encode()]
    if len(kept) != 1:
        problems.append(f"{len(kept)} files hold the text that was over the limit, expected 1")
    others = sorted(set(left) - set(kept))
    if others:
        problems.append(f"temporary files left behind: {others}")
    return problems
