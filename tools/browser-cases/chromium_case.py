#!/usr/bin/env python3
"""Makes a case of deleted Chromium history for the recovery's tests.

Runs Debian's chromium headless on a fresh profile, visits pages of a local
test server (three loopback host names, each page with its own icon),
deletes history through Chromium's own history code (the extension APIs
chrome.history and chrome.browsingData, which the history page and the
clear-browsing-data dialog share), waits for the history's commit, then
kills Chromium. Writes the evidence (History and Favicons with the journals
beside them) and the browser's own tables before and after the deletion into
OUT/CASE/.

    tools/browser-cases/chromium_case.py OUT CASE

CASE is one of:
  pages       six pages removed (chrome.history.deleteUrl)
  host        every page of one host (chrome.history.deleteUrl of each)
  range       the visits of a time range (chrome.history.deleteRange)
  open-range  the visits from a time on (chrome.browsingData.removeHistory)

Chromium is driven over the DevTools protocol (JSON over a WebSocket on a
local port), with the Python standard library alone. The tables before and
after are read from copies of the files taken while Chromium runs, the copy's
hot journal rolled back by SQLite: what Chromium had committed.
"""

import base64
import json
import os
import shutil
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

from case_common import HOSTS, PAGES, keep_case, kill, make_site, serve, visit_rounds, wait_for

# Chromium commits its history every ten seconds.
COMMIT_WAIT = 12
DATABASES = ["History", "Favicons"]


class DevTools:
    """One WebSocket connection to a DevTools target."""

    def __init__(self, url):
        host, rest = url[len("ws://"):].split("/", 1)
        address, port = host.split(":")
        self.socket = socket.create_connection((address, int(port)), timeout=120)
        key = base64.b64encode(os.urandom(16)).decode()
        self.socket.sendall((f"GET /{rest} HTTP/1.1\r\nHost: {host}\r\nUpgrade: websocket\r\n"
                             f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                             "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        response = b""
        while not response.endswith(b"\r\n\r\n"):
            response += self.socket.recv(1)
        if b" 101 " not in response.split(b"\r\n")[0]:
            raise RuntimeError(response.decode(errors="replace"))
        self.id = 0

    def exactly(self, size):
        data = b""
        while len(data) < size:
            data += self.socket.recv(size - len(data))
        return data

    def send(self, message):
        payload = json.dumps(message).encode()
        mask = os.urandom(4)
        size = len(payload)
        head = bytes([0x81])
        if size < 126:
            head += bytes([0x80 | size])
        elif size < 65536:
            head += bytes([0x80 | 126]) + struct.pack(">H", size)
        else:
            head += bytes([0x80 | 127]) + struct.pack(">Q", size)
        self.socket.sendall(head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def receive(self):
        message = b""
        while True:
            first, second = self.exactly(2)
            size = second & 0x7F
            if size == 126:
                size = struct.unpack(">H", self.exactly(2))[0]
            elif size == 127:
                size = struct.unpack(">Q", self.exactly(8))[0]
            message += self.exactly(size)
            if first & 0x80:
                return json.loads(message)

    def call(self, method, params=None):
        self.id += 1
        self.send({"id": self.id, "method": method, "params": params or {}})
        while True:
            reply = self.receive()
            if reply.get("id") == self.id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True})
        if "exceptionDetails" in result:
            raise RuntimeError(json.dumps(result["exceptionDetails"]))
        return result["result"].get("value")


def targets(port):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list") as reply:
        return json.load(reply)


def dump(profile, scratch):
    """Every table of the databases, as Chromium has committed them."""
    tables = {}
    for database in DATABASES:
        copy = os.path.join(scratch, database)
        for suffix in ["", "-journal", "-wal"]:
            if os.path.exists(copy + suffix):
                os.remove(copy + suffix)
            if os.path.exists(os.path.join(profile, database + suffix)):
                shutil.copyfile(os.path.join(profile, database + suffix), copy + suffix)
        connection = sqlite3.connect(copy)
        names = [row[0] for row in connection.execute(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND substr(name, 1, 7) != 'sqlite_'")]
        for name in names:
            cursor = connection.execute(f'SELECT * FROM "{name}"')
            columns = [column[0] for column in cursor.description]
            tables[name] = {"columns": columns, "rows": [
                [{"blob": value.hex()} if isinstance(value, bytes) else value for value in row] for row in cursor]}
        connection.close()
    return tables


def main():
    out, case = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="chromium-case-")
    site = os.path.join(work, "site")
    profile = os.path.join(work, "profile")
    extension = os.path.join(work, "extension")
    scratch = os.path.join(work, "scratch")
    for folder in [site, profile, extension, scratch]:
        os.makedirs(folder)
    make_site(site)
    with open(os.path.join(extension, "manifest.json"), "w") as manifest:
        json.dump({"manifest_version": 3, "name": "history cases", "version": "1",
                   "permissions": ["history", "browsingData"], "background": {"service_worker": "worker.js"}},
                  manifest)
    with open(os.path.join(extension, "worker.js"), "w") as worker:
        worker.write("// The history APIs are called over DevTools.\n")
    server, port = serve(site)
    chromium = subprocess.Popen(
        ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", "--disable-sync", "--disable-component-update",
         f"--user-data-dir={profile}", "--remote-debugging-port=0", f"--load-extension={extension}",
         "--disable-features=DisableLoadExtensionCommandLineSwitch", "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        active = os.path.join(profile, "DevToolsActivePort")
        wait_for(lambda: os.path.exists(active) and len(open(active).read().split()) == 2)
        debugging = int(open(active).read().split()[0])
        wait_for(lambda: any(t["type"] == "service_worker" for t in targets(debugging)))
        page = DevTools(next(t for t in targets(debugging) if t["type"] == "page")["webSocketDebuggerUrl"])
        history = DevTools(next(t for t in targets(debugging) if t["type"] == "service_worker")["webSocketDebuggerUrl"])
        def visit(url):
            page.call("Page.navigate", {"url": url})
            wait_for(lambda: page.evaluate("document.readyState") == "complete")
            time.sleep(0.2)  # the icon

        marks, _ = visit_rounds(port, visit)
        time.sleep(COMMIT_WAIT)
        before = dump(os.path.join(profile, "Default"), scratch)
        if case == "pages":
            urls = [f"http://{HOSTS[0]}:{port}/page-{number}.html" for number in range(1, PAGES + 1, 2)]
            history.evaluate(f"Promise.all({json.dumps(urls)}.map(url => chrome.history.deleteUrl({{url}})))")
        elif case == "host":
            history.evaluate(
                "chrome.history.search({text: '', startTime: 0, maxResults: 10000}).then(items => Promise.all("
                f"items.filter(i => new URL(i.url).hostname === {json.dumps(HOSTS[1])})"
                ".map(i => chrome.history.deleteUrl({url: i.url}))))")
        elif case == "range":
            history.evaluate(f"chrome.history.deleteRange({{startTime: {marks[1]}, endTime: {marks[2]}}})")
        elif case == "open-range":
            history.evaluate(f"chrome.browsingData.removeHistory({{since: {marks[1]}}})")
        else:
            raise SystemExit(f"no such case: {case}")
        time.sleep(COMMIT_WAIT)
        after = dump(os.path.join(profile, "Default"), scratch)
        kill(chromium)
        keep_case(os.path.join(profile, "Default"),
                  [database + suffix for database in DATABASES for suffix in ["", "-journal", "-wal"]],
                  os.path.join(out, case), before, after)
    finally:
        kill(chromium)
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
