"""The editors, each as a user configures it in the extension and as a
person drives it: the request's "editor" and "args", its window, and the
keystrokes that start typing, save and quit.

Steps are (what, argument): ("key", KEYS) presses keys, ("type", TEXT) types
text, ("save", KEYS) presses the keys that save, and marks the moment the
host's frame is timed from."""

from dataclasses import dataclass, field

TERMINAL = ("xterm", "-e")


@dataclass
class Editor:
    name: str
    programs: tuple  # what must be installed, for the case to run
    request: dict  # the request's "editor" and "args"
    window_class: str
    title: str  # regular expression; {file} stands for the file's name
    begin: list = field(default_factory=list)
    tab: list = field(default_factory=lambda: [("key", "Tab")])
    save: list = field(default_factory=lambda: [("save", "ctrl+s")])
    # The last save and the quit: what a person does when done.
    save_and_quit: list = field(default_factory=lambda: [("save", "ctrl+s"), ("wait-saved", ""), ("key", "ctrl+q")])
    emoji: bool = True  # Qt drops synthetic keystrokes beyond U+FFFF
    tab_inserts: str = "\t"  # what the Tab key puts in the text
    # How a person has the same editor open already: its command on another
    # file (a terminal editor in a terminal of its own), and how to quit it.
    open_before: tuple = ()
    quit_open: list = field(default_factory=lambda: [("key", "ctrl+q")])
    # The last save and the quit when the file is in the window already open
    # (empty: as save_and_quit).
    save_and_close: list = field(default_factory=list)
    # The option without which the editor hands the file to a window already
    # open and exits; the "plain" case starts it without, under another name
    # when the host adds the option by the editor's name (gedit, kate and
    # mousepad get none in "args": the host's rule gives them their option).
    stay_option: str = ""
    host_adds_option: bool = False
    # True when the host's file opens in the window already open.
    same_window: bool = False
    setup: str = ""  # a note on the configuration of the test's home


VIM_SAVE = [("key", "Escape"), ("type", ":w"), ("save", "Return"), ("key", "g"), ("key", "i")]
VIM_QUIT = [("key", "Escape"), ("type", ":wq"), ("save", "Return")]

EDITORS = [
    Editor(
        "vim in xterm",
        ("xterm", "vim"),
        {"editor": "xterm", "args": ["-e", "vim"]},
        "XTerm",
        r"{file}",
        begin=[("key", "i")],
        save=VIM_SAVE,
        save_and_quit=VIM_QUIT,
        open_before=("xterm", "-T", "other.txt", "-e", "vim"),
        quit_open=[("key", "Escape"), ("type", ":q"), ("key", "Return")],
    ),
    Editor(
        "neovim in xterm",
        ("xterm", "nvim"),
        {"editor": "xterm", "args": ["-e", "nvim"]},
        "XTerm",
        r"nvim",
        begin=[("key", "i")],
        save=VIM_SAVE,
        save_and_quit=VIM_QUIT,
        open_before=("xterm", "-T", "other.txt", "-e", "nvim"),
        quit_open=[("key", "Escape"), ("type", ":q"), ("key", "Return")],
    ),
    Editor(
        "nano in xterm",
        ("xterm", "nano"),
        {"editor": "xterm", "args": ["-e", "nano"]},
        "XTerm",
        r"nano",
        save=[("save", "ctrl+s")],
        save_and_quit=[("key", "ctrl+x"), ("key", "y"), ("save", "Return")],
        open_before=("xterm", "-T", "other.txt", "-e", "nano"),
        quit_open=[("key", "ctrl+x")],
    ),
    Editor(
        "emacs -nw in xterm",
        ("xterm", "emacs"),
        {"editor": "xterm", "args": ["-e", "emacs", "-nw"]},
        "XTerm",
        r"emacs",
        tab=[("key", "ctrl+q"), ("key", "Tab")],
        save=[("key", "ctrl+x"), ("save", "ctrl+s")],
        save_and_quit=[("key", "ctrl+x"), ("key", "ctrl+c"), ("save", "y")],
        open_before=("xterm", "-T", "other.txt", "-e", "emacs", "-nw"),
        quit_open=[("key", "ctrl+x"), ("key", "ctrl+c")],
    ),
    Editor(
        "gvim",
        ("gvim",),
        {"editor": "gvim"},
        "Gvim",
        r"{file}",
        begin=[("key", "i")],
        save=VIM_SAVE,
        save_and_quit=VIM_QUIT,
        open_before=("gvim",),
        quit_open=[("key", "Escape"), ("type", ":q"), ("key", "Return")],
    ),
    Editor(
        "emacs window",
        ("emacs",),
        {"editor": "emacs"},
        "Emacs",
        r"{file}",
        tab=[("key", "ctrl+q"), ("key", "Tab")],
        save=[("key", "ctrl+x"), ("save", "ctrl+s")],
        save_and_quit=[("key", "ctrl+x"), ("key", "ctrl+c"), ("save", "y")],
        open_before=("emacs",),
        quit_open=[("key", "ctrl+x"), ("key", "ctrl+c")],
    ),
    Editor(
        "gedit",
        ("gedit",),
        {"editor": "gedit"},
        "Gedit",
        r"{file}",
        save_and_quit=[("save", "ctrl+s"), ("wait-saved", ""), ("key", "ctrl+w")],
        open_before=("gedit",),
        same_window=True,
        stay_option="--wait",
        host_adds_option=True,
    ),
    Editor(
        "mousepad",
        ("mousepad",),
        {"editor": "mousepad"},
        "Mousepad",
        r"{file}",
        open_before=("mousepad",),
        stay_option="--disable-server",
        host_adds_option=True,
    ),
    Editor(
        "geany",
        ("geany",),
        {"editor": "geany", "args": ["-i"]},
        "Geany",
        r"{file}",
        open_before=("geany",),
        stay_option="-i",
    ),
    Editor(
        "kate",
        ("kate",),
        {"editor": "kate"},
        "kate",
        r"{file}",
        emoji=False,
        tab_inserts="    ",  # KDE's editors indent with spaces by default
        save_and_close=[("save", "ctrl+s"), ("wait-saved", ""), ("key", "ctrl+w")],
        open_before=("kate",),
        same_window=True,
        stay_option="--block",
        host_adds_option=True,
    ),
    Editor(
        "kwrite",
        ("kwrite",),
        {"editor": "kwrite"},
        "kwrite",
        r"{file}",
        emoji=False,
        tab_inserts="    ",  # KDE's editors indent with spaces by default
        open_before=("kwrite",),
    ),
]
