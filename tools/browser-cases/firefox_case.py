#!/usr/bin/env python3
"""Makes a case of deleted Firefox history for the recovery's tests.

Runs Debian's firefox-esr headless on a fresh profile, visits pages of a
local test server (three loopback host names, each page with its own icon),
deletes history through Firefox's own history service, as its clear-history
code does, then kills Firefox before it checkpoints its WAL. Writes the
evidence (places.sqlite and favicons.sqlite with their -wal) and the browser's
own tables before and after the deletion, as Firefox's Places connection
read them, into OUT/CASE/.

    tools/browser-cases/firefox_case.py OUT CASE

CASE is one of:
  pages       six pages removed (PlacesUtils.history.remove)
  host        every page of one host (PlacesUtils.history.removeByFilter)
  range       the visits of a time range (removeVisitsByFilter, both ends)
  open-range  the visits from a time on, all of them in the WAL

Firefox is driven over its Marionette protocol (length-prefixed JSON on a
local port), with the Python standard library alone.
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from case_common import HOSTS, PAGES, keep_case, kill, make_site, serve, visit_rounds, wait_for

class Marionette:
    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=120)
        self.id = 0
        self.receive()

    def receive(self):
        head = b""
        while not head.endswith(b":"):
            head += self.socket.recv(1)
        size = int(head[:-1])
        body = b""
        while len(body) < size:
            body += self.socket.recv(size - len(body))
        return json.loads(body)

    def command(self, name, parameters):
        self.id += 1
        message = json.dumps([0, self.id, name, parameters]).encode()
        self.socket.sendall(str(len(message)).encode() + b":" + message)
        reply = self.receive()
        if reply[2]:
            raise RuntimeError(f"{name}: {reply[2]}")
        return reply[3]

    def script(self, source, args=()):
        return self.command("WebDriver:ExecuteScript", {"script": source, "args": list(args)})["value"]


PLACES = "const {PlacesUtils} = ChromeUtils.importESModule('resource://gre/modules/PlacesUtils.sys.mjs');"

# Every table of the Places connection's main and favicons schemas, each
# row's values as JSON: BLOBs as hex.
DUMP = PLACES + """return (async () => {
const db = await PlacesUtils.promiseDBConnection();
const out = {};
for (const schema of ['main', 'favicons']) {
  const tables = await db.execute(`SELECT name FROM ${schema}.sqlite_master WHERE type = 'table'
                                   AND substr(name, 1, 7) != 'sqlite_'`);
  for (const table of tables) {
    const name = table.getResultByIndex(0);
    const columns = (await db.execute(`SELECT name FROM pragma_table_info('${name}', '${schema}')`))
                        .map(c => c.getResultByIndex(0));
    const rows = await db.execute(`SELECT * FROM ${schema}."${name}"`);
    out[name] = {columns, rows: rows.map(row => columns.map((c, i) => {
      const v = row.getResultByIndex(i);
      if (v instanceof Uint8Array || Array.isArray(v)) return {blob: Array.from(v, b => b.toString(16).padStart(2, '0')).join('')};
      return v;
    }))};
  }
}
return out;
})();
"""


def main():
    out, case = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="firefox-case-")
    site = os.path.join(work, "site")
    profile = os.path.join(work, "profile")
    os.makedirs(site)
    os.makedirs(profile)
    make_site(site)
    server, port = serve(site)
    with open(os.path.join(profile, "user.js"), "w") as prefs:
        for name, value in [("places.database.growthIncrementKiB", 0), ("app.update.enabled", False),
                            ("datareporting.policy.dataSubmissionEnabled", False),
                            ("browser.safebrowsing.malware.enabled", False),
                            ("browser.safebrowsing.phishing.enabled", False),
                            ("network.captive-portal-service.enabled", False),
                            ("browser.newtabpage.enabled", False), ("browser.startup.page", 0)]:
            prefs.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")
    firefox = subprocess.Popen(["firefox-esr", "--headless", "--marionette", "--remote-allow-system-access",
                                "--no-remote", "--profile", profile, "about:blank"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        active = os.path.join(profile, "MarionetteActivePort")
        wait_for(lambda: os.path.exists(active) and open(active).read().strip())
        marionette = Marionette(int(open(active).read()))
        marionette.command("WebDriver:NewSession", {"capabilities": {}})
        marks, visits = visit_rounds(port, lambda url: marionette.command("WebDriver:Navigate", {"url": url}))
        marionette.command("Marionette:SetContext", {"value": "chrome"})
        count = PLACES + "return PlacesUtils.promiseDBConnection().then(db => db.execute(" \
                         "'SELECT count(*) FROM moz_historyvisits')).then(rows => rows[0].getResultByIndex(0));"
        wait_for(lambda: marionette.script(count) >= visits)
        time.sleep(3)  # the icons, stored after their pages
        before = marionette.script(DUMP)
        if case == "pages":
            marionette.script(PLACES + "return PlacesUtils.history.remove(arguments[0]).then(() => 1);",
                              [[f"http://{HOSTS[0]}:{port}/page-{page}.html" for page in range(1, PAGES + 1, 2)]])
        elif case == "host":
            marionette.script(PLACES + "return PlacesUtils.history.removeByFilter({host: arguments[0]}).then(() => 1);",
                              [HOSTS[1]])
        elif case == "range":
            marionette.script(PLACES + "return PlacesUtils.history.removeVisitsByFilter("
                              "{beginDate: new Date(arguments[0]), endDate: new Date(arguments[1])}).then(() => 1);",
                              [marks[1], marks[2]])
        elif case == "open-range":
            marionette.script(PLACES + "return PlacesUtils.history.removeVisitsByFilter("
                              "{beginDate: new Date(arguments[0])}).then(() => 1);", [marks[1]])
        else:
            raise SystemExit(f"no such case: {case}")
        time.sleep(3)  # the orphans' clean-up after the removal
        after = marionette.script(DUMP)
        kill(firefox)  # before it checkpoints
        keep_case(profile, ["places.sqlite", "places.sqlite-wal", "favicons.sqlite", "favicons.sqlite-wal"],
                  os.path.join(out, case), before, after)
    finally:
        kill(firefox)
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
