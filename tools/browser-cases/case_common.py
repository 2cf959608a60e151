"""What the makers of browser deletion cases share: the local test site,
its server, and the truth file of the browser's own rows."""

import functools
import http.server
import json
import os
import shutil
import signal
import struct
import threading
import time
import zlib

HOSTS = ["127.0.0.1", "localhost", "127.0.0.2"]
PAGES = 12


def png(red, green, blue):
    """A 16x16 PNG of one colour."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    rows = b"".join(b"\0" + bytes([red, green, blue]) * 16 for _ in range(16))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def make_site(folder):
    for page in range(1, PAGES + 1):
        with open(os.path.join(folder, f"page-{page}.html"), "w") as out:
            out.write(f"<!doctype html><html><head><title>Page {page}</title>"
                      f"<link rel=icon type=image/png href=/icon-{page}.png></head>"
                      f"<body><p>Page {page} of the test site.</p></body></html>")
        with open(os.path.join(folder, f"icon-{page}.png"), "wb") as out:
            out.write(png(20 * page, 255 - 20 * page, 128))


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a page the browser stopped loading


def escape(value):
    if value is None:
        return "\\N"
    if isinstance(value, dict):
        return "\\*"  # a BLOB: matched by whatever the file holds
    if isinstance(value, float) and value == int(value):
        value = int(value)
    return str(value).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def write_truth(path, before, after):
    """Every row the browser had before the deletion, as a line of
    table, 1 where the deletion removed it (no row of the same values after),
    and its values in the table's column order; then the rows made since."""
    with open(path, "w") as out:
        out.write("# table\tdeleted\tvalues in column order: the browser's own rows before and after the deletion\n")
        for table in sorted(set(before) | set(after)):
            remaining = [tuple(json.dumps(v) for v in row) for row in after.get(table, {"rows": []})["rows"]]
            for row in before.get(table, {"rows": []})["rows"]:
                key = tuple(json.dumps(v) for v in row)
                deleted = key not in remaining
                if not deleted:
                    remaining.remove(key)
                out.write("\t".join([table, "1" if deleted else "0"] + [escape(v) for v in row]) + "\n")
            for key in remaining:
                out.write("\t".join([table, "0"] + [escape(json.loads(v)) for v in key]) + "\n")


def wait_for(predicate, seconds=60):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return
        time.sleep(0.25)
    raise RuntimeError("timed out")


def serve(site):
    """Serves the site's folder on every loopback address; the server and its port."""
    server = Server(("0.0.0.0", 0), functools.partial(Quiet, directory=site))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, server.server_address[1]


def kill(browser):
    """Kills the browser and every process it started, as a browser that
    crashed or was switched off: nothing written after."""
    if browser.poll() is None:
        os.killpg(browser.pid, signal.SIGKILL)
    browser.wait()


def keep_case(folder, names, target, before, after):
    """Copies the evidence files of the folder that are there and not empty
    into target, with the truth file of the rows before and after."""
    os.makedirs(target, exist_ok=True)
    for name in names:
        path = os.path.join(folder, name)
        if os.path.exists(path) and os.path.getsize(path) > 0:
            shutil.copyfile(path, os.path.join(target, name))
    write_truth(os.path.join(target, "truth.tsv"), before, after)


def visit_rounds(port, visit):
    """Three rounds of visits, a second and more apart, through visit(url):
    every page of every host in the first, the first two pages of each in
    the next two. The times (ms since 1970) before each round and after the
    last; the number of visits."""
    marks = []
    visits = 0
    for round in range(3):
        marks.append(int(time.time() * 1000))
        time.sleep(1.1)
        for host in HOSTS:
            for page in range(1, (PAGES if round == 0 else 2) + 1):
                visit(f"http://{host}:{port}/page-{page}.html")
                visits += 1
        time.sleep(1.1)
    marks.append(int(time.time() * 1000))
    return marks, visits
