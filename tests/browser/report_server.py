"""The server on 127.0.0.1 to which the test extension reports."""

import http.server
import json
import threading

from harness import say


class Reports:
    """What the extension reported; shared with the server's threads."""

    def __init__(self, cases):
        self.cases = cases
        self.lock = threading.Lock()
        self.started = False
        self.results = {}
        self.events = {}

    def start(self):
        """The cases for the extension's first start, none for a restart of
        its worker, which must not run them twice."""
        with self.lock:
            first = not self.started
            self.started = True
        say("extension started" if first else "extension started again; it gets no cases")
        return self.cases if first else []

    def add_result(self, result):
        with self.lock:
            self.results.setdefault(result["name"], result)
        count = len(result["messages"])
        say(f"{result['name']}: port ended after {count} messages, error {result['error']!r}")

    def add_event(self, name, event):
        with self.lock:
            self.events.setdefault(name, []).append(event)
        say(f"{name}: {event}")

    def messages_seen(self, name):
        with self.lock:
            return any(event.startswith("message ") for event in self.events.get(name, []))

    def all_in(self):
        """Every case has reported its end, but for those that end only when
        the browser does."""
        with self.lock:
            return len(self.results) == sum(1 for case in self.cases if case.get("reports", True))


def start_report_server(reports):
    """Serves POST /start (gives the cases), /event (a line for the log) and
    /result (how a case ended) on a free port, from a thread of its own."""

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            body = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
            answer = {}
            if self.path == "/start":
                answer = {"cases": reports.start()}
            elif self.path == "/result":
                reports.add_result(body)
            elif self.path == "/event":
                reports.add_event(body["name"], body["event"])
            data = json.dumps(answer).encode()
            self.send_response(200)
            # The worker's requests are cross-origin, and Firefox does not
            # grant the manifest's host permission by itself.
            self.send_header("Access-Control-Allow-Origin", "*")
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def log_message(self, format, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server
