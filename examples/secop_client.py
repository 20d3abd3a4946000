#!/usr/bin/env python3
"""Drive a Moirex mixer over SECoP 1.0 with nothing but the Python standard library.

Loads a segment program, starts it, logs every segment change with its time stamp, and stops
the mixer at the end (or on Ctrl-C). The node is the window's (a "SECoP address" in section
"Remote" of its configuration file, "Allow remote control" checked on the Setup page) or
`moirexctl serve --allow-remote-control`.

    python3 examples/secop_client.py 127.0.0.1:10767 examples/demo-program.csv
"""

import datetime
import json
import socket
import sys


class SecopError(Exception):
    pass


class Node:
    """One connection to a SEC node: requests and their replies, updates kept for the caller."""

    def __init__(self, host, port):
        self.sock = socket.create_connection((host, port), timeout=30)
        self.sock.settimeout(None)  # updates come once a second while a program runs
        self.buffer = b""
        self.updates = []

    def line(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise SecopError("the node closed the connection")
            self.buffer += chunk
        raw, self.buffer = self.buffer.split(b"\n", 1)
        return raw.decode("ascii", "replace").rstrip("\r")

    def send(self, text):
        self.sock.sendall(text.encode("ascii") + b"\n")

    @staticmethod
    def parse(text):
        action, _, rest = text.partition(" ")
        specifier, _, data = rest.partition(" ")
        return action, specifier, (json.loads(data) if data else None)

    def request(self, text, reply):
        """Sends a request; returns the data of its reply, keeping any update that comes first."""
        self.send(text)
        while True:
            line = self.line()
            if line.startswith(reply):
                return self.parse(line)[2] if " " in line else None
            action, specifier, data = self.parse(line)
            if action.startswith("error_"):
                raise SecopError("%s: %s" % (data[0], data[1]))
            if action == "update":
                self.updates.append((specifier, data))

    def next_update(self):
        if self.updates:
            return self.updates.pop(0)
        while True:
            action, specifier, data = self.parse(self.line())
            if action == "update":
                return specifier, data


def stamp(report):
    t = report[1].get("t") if len(report) > 1 and isinstance(report[1], dict) else None
    if t is None:
        return "-"
    return datetime.datetime.fromtimestamp(t).astimezone().isoformat(timespec="milliseconds")


def main():
    if len(sys.argv) != 3:
        print("usage: secop_client.py HOST:PORT PROGRAM_FILE", file=sys.stderr)
        return 2
    host, _, port = sys.argv[1].rpartition(":")
    with open(sys.argv[2], encoding="utf-8") as f:
        program = f.read()

    node = Node(host or "127.0.0.1", int(port))
    node.send("*IDN?")
    print("node:", node.line())
    print("loaded:", node.request("do program:load " + json.dumps(program), "done program:load")[0])
    node.request("activate", "active")
    node.updates.clear()  # the initial values; only what changes from now on is logged
    node.request("do program:start", "done program:start")
    print(datetime.datetime.now().astimezone().isoformat(timespec="milliseconds"), "started")
    started = False
    try:
        while True:
            specifier, report = node.next_update()
            if specifier == "program:value":
                segment = report[0]
                if segment > 0:
                    started = True
                    print(stamp(report), "segment", segment)
                elif started:
                    print(stamp(report), "program ended")
            elif specifier == "mixer:value" and started and report[0] in (1, 6):  # ready, stop_failed
                print(stamp(report), "mixer", "ready" if report[0] == 1 else "stop_failed")
                break
    except KeyboardInterrupt:
        print("interrupted")
    finally:
        # Stop is always allowed; it runs the stop procedure, as the Stop button does.
        node.request("do program:stop", "done program:stop")
        print(datetime.datetime.now().astimezone().isoformat(timespec="milliseconds"), "stopped")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (SecopError, OSError) as e:
        print("secop_client.py:", e, file=sys.stderr)
        sys.exit(1)
