#!/usr/bin/python3
"""The service's web pages from outside: its API over plain sockets, and a real headless
Chromium driven through its DevTools protocol (python3-websocket) that logs in, watches the
board change as the simulated meters' values wander, and downloads the energy CSV, which must
be the bytes `mirv-history energy` writes for the same period.

    web_browser_test.py --service FILE --history FILE --sim FILE --make-db FILE --schema FILE
                        [--screens FOLDER]

Screenshots are kept in --screens for a person to look at. Every process it starts it ends by
its PID.
"""
import argparse
import http.client
import json
import os
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.parse

import websocket

failures = []
started = []
folders = []
USER, PASSWORD = "anna", "Kennwort-7"


def check(ok, what):
    print(("ok:   " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        failures.append(what)


def start(args, **kw):
    p = subprocess.Popen(args, **kw)
    started.append(p)
    return p


def end(p):
    if p.poll() is None:
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(15)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, seconds, step=0.1):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return None


class Web:
    def __init__(self, port, source="127.0.0.1"):
        self.port, self.source, self.cookie = port, source, None

    def request(self, method, path, body=None, headers=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60,
                                       source_address=(self.source, 0))
        h = dict(headers or {})
        if self.cookie:
            h["Cookie"] = self.cookie
        if body is not None:
            h["Content-Type"] = "application/x-www-form-urlencoded"
        c.request(method, path, body=body, headers=h)
        r = c.getresponse()
        data = r.read()
        c.close()
        return r, data

    def login(self, user, password):
        r, _ = self.request("POST", "/login",
                            urllib.parse.urlencode({"user": user, "password": password}))
        cookie = r.getheader("Set-Cookie") or ""
        if r.status == 303 and cookie:
            self.cookie = cookie.split(";")[0]
        return r, cookie


def program_folder(args):
    folder = tempfile.mkdtemp(prefix="mirv-web-")
    folders.append(folder)
    os.makedirs(os.path.join(folder, "ports"))
    shutil.copy(args.service, os.path.join(folder, "mirv-stationd"))
    db = os.path.join(folder, "mirv.mdb")
    subprocess.run([args.make_db, args.schema, db], check=True)
    with sqlite3.connect(db) as c:
        c.execute("UPDATE mirve SET timer = '300', minute = '1', com = 1, Settings = '19200', "
                  "num = '3'")
    return folder


def api_checks(web, port):
    protected = ["/", "/app.js", "/style.css", "/chart.min.js", "/api/board", "/api/line",
                 "/api/events", "/api/quantities", "/api/journal?from=2000-01-01&to=2100-01-01",
                 "/api/energy?from=2000-01-01&to=2100-01-01",
                 "/api/energy.csv?from=2000-01-01&to=2100-01-01", "/api/trend", "/nothing"]
    for path in protected:
        r, data = web.request("GET", path)
        shut = r.status == 401 or (r.status == 303 and r.getheader("Location") == "/login")
        check(shut and b"meters" not in data, f"without a login {path} answers {r.status}")
    r, data = web.request("GET", "/login")
    check(r.status == 200 and "登录".encode() in data, "the login page is open to all")
    check(r.getheader("X-Frame-Options") == "DENY", "framing is forbidden")
    check("frame-ancestors 'none'" in (r.getheader("Content-Security-Policy") or ""),
          "the content policy forbids framing")
    check(r.getheader("X-Content-Type-Options") == "nosniff", "sniffing is forbidden")
    for method in ("PUT", "DELETE", "PATCH"):
        r, _ = web.request(method, "/api/board")
        check(r.status in (401, 405), f"{method} changes nothing ({r.status})")

    # Guessing from one address: five wrong passwords, then even the right one waits.
    guesser = Web(port, "127.0.0.2")
    statuses = [guesser.login(USER, f"guess{i}")[0].status for i in range(5)]
    check(statuses == [401] * 5, f"wrong passwords are refused: {statuses}")
    r, _ = guesser.login(USER, PASSWORD)
    check(r.status == 429 and int(r.getheader("Retry-After") or 0) > 0,
          f"after five failures the address must wait ({r.status})")
    check(guesser.cookie is None, "no session for a held address")

    # Guesses sent all at once count one by one.
    import concurrent.futures
    crowd = Web(port, "127.0.0.3")
    with concurrent.futures.ThreadPoolExecutor(10) as pool:
        statuses = sorted(pool.map(lambda i: crowd.login(USER, f"x{i}")[0].status, range(10)))
    check(statuses == [401] * 5 + [429] * 5, f"ten guesses at once: {statuses}")

    r, cookie = web.login(USER, PASSWORD)
    check(r.status == 303 and "HttpOnly" in cookie and "SameSite=Strict" in cookie
          and "Secure" not in cookie, f"a login sets the session cookie: {cookie}")
    r, data = web.request("GET", "/api/board")
    board = json.loads(data) if r.status == 200 else {}
    meters = {m["meter"]: m for m in board.get("meters", [])}
    check(r.status == 200 and len(meters) == 20, "the board answers JSON for every meter")
    polled = wait_for(lambda: all(json.loads(web.request("GET", "/api/board")[1])["meters"][n - 1]
                                  ["cells"]["forwardTotal"] for n in (1, 2, 3)), 15)
    check(bool(polled), "meters 1-3 show readings")
    r, data = web.request("GET", "/api/board")
    m = json.loads(data)["meters"]
    check([x["state"] for x in m[:4]] == ["ok", "ok", "ok", "off"], "each meter's state")
    # The counters are copied once a second.
    line = wait_for(lambda: (lambda l: l if l.get("ticks", 0) > 0 and len(l["meters"]) == 3
                             else None)(json.loads(web.request("GET", "/api/line")[1])), 5)
    check(bool(line) and [m["address"] for m in line["meters"]] == [1, 2, 3],
          f"the line's counters: {line}")

    # A huge header and a slow client: the server answers others at once all the same.
    r, _ = web.request("GET", "/api/board", headers={"X-Big": "x" * 20000})
    check(400 <= r.status < 500, f"a huge header is refused ({r.status})")
    slow = socket.create_connection(("127.0.0.1", port))
    slow.sendall(b"GET /api/board HTTP/1.1\r\nHost: x\r\n")
    garbage = socket.create_connection(("127.0.0.1", port))
    garbage.sendall(b"\x16\x03\x01 no http at all\r\n\r\n")
    t0 = time.monotonic()
    r, _ = web.request("GET", "/api/board")
    check(r.status == 200 and time.monotonic() - t0 < 1.0,
          f"others are served while a client is slow ({time.monotonic() - t0:.3f} s)")
    slow.close()
    garbage.close()


class Browser:
    def __init__(self, url, profile):
        self.proc = start(["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
                           "--no-first-run", "--lang=zh-CN", "--remote-debugging-port=0",
                           f"--user-data-dir={profile}", "--window-size=1100,800", url],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(profile, "DevToolsActivePort")
        if not wait_for(lambda: os.path.exists(port_file) and open(port_file).read().strip(), 30):
            sys.exit("chromium did not start its DevTools")
        port = int(open(port_file).read().split()[0])
        pages = wait_for(lambda: [t for t in json.loads(self._list(port))
                                  if t["type"] == "page"], 10)
        self.ws = websocket.create_connection(pages[0]["webSocketDebuggerUrl"], timeout=30)
        self.next_id = 0

    @staticmethod
    def _list(port):
        c = http.client.HTTPConnection("127.0.0.1", port)
        c.request("GET", "/json/list")
        return c.getresponse().read()

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})

    def js(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True,
                           returnByValue=True)
        return result.get("result", {}).get("value")

    def screenshot(self, path):
        import base64
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))


def browser_checks(args, folder, port, screens):
    profile = tempfile.mkdtemp(prefix="mirv-web-chromium-")
    folders.append(profile)
    downloads = os.path.join(profile, "downloads")
    os.makedirs(downloads)
    b = Browser(f"http://127.0.0.1:{port}/", profile)
    on_login = wait_for(lambda: b.js("location.pathname") == "/login" and
                        b.js("!!document.getElementById('user')"), 15)
    check(bool(on_login), "without a session the browser lands on the login page")
    b.screenshot(os.path.join(screens, "login.png"))
    b.js(f"document.getElementById('user').value = {json.dumps(USER)};"
         f"document.getElementById('password').value = {json.dumps(PASSWORD)};"
         "document.querySelector('form').submit(); true")
    rows = wait_for(lambda: b.js("location.pathname === '/' && "
                                 "document.querySelectorAll('#boardTable tbody tr').length"), 15)
    check(rows == 3, f"logged in, the board shows the three polled meters ({rows})")

    # The board changes by itself (pushed, not asked for) as the meters' values wander.
    read_cell = ("[...document.querySelectorAll('#boardTable tbody tr')]"
                 ".map(r => r.cells[5].textContent).join('|')")
    first = b.js(read_cell)
    updates = int(b.js("document.body.dataset.boardUpdates || 0"))
    changed = wait_for(lambda: b.js(read_cell) != first and b.js(read_cell), 15)
    later = int(b.js("document.body.dataset.boardUpdates || 0"))
    check(bool(changed) and later > updates,
          f"the board changes as the meters do: {first} -> {changed} ({later - updates} pushes)")
    b.screenshot(os.path.join(screens, "board.png"))

    # Energy over a period that ended a few seconds ago, so that every row in it is written.
    end_text = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(time.time() - 1))
    time.sleep(3)
    b.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=downloads)
    b.js("location.hash = '#energy'; true")
    b.js("const f = document.getElementById('energyForm');"
         "f.elements.from.value = '2000-01-01T00:00:00';"
         f"f.elements.to.value = {json.dumps(end_text.replace(' ', 'T'))};"
         "f.requestSubmit(); true")
    shown = wait_for(lambda: b.js("document.querySelectorAll('#energyTable tbody tr').length"), 15)
    check(shown == 4, f"the energy table shows three meters and the total ({shown})")
    b.screenshot(os.path.join(screens, "energy.png"))
    b.js("document.getElementById('energyCsv').click(); true")
    csv_path = os.path.join(downloads, "energy.csv")
    wait_for(lambda: os.path.exists(csv_path) and os.path.getsize(csv_path) > 0, 15)
    downloaded = open(csv_path, "rb").read() if os.path.exists(csv_path) else b""
    history = subprocess.run([args.history, "--db", os.path.join(folder, "mirv.mdb"), "energy",
                              "--from", "2000-01-01 00:00:00", "--to", end_text,
                              "--format", "csv", "--output", "-"],
                             capture_output=True)
    check(history.returncode == 0 and downloaded == history.stdout and len(downloaded) > 100,
          f"the downloaded CSV is mirv-history energy's ({len(downloaded)} bytes, "
          f"{len(history.stdout)} from the tool: {history.stderr.decode().strip()})")

    b.js("location.hash = '#trend'; true")
    b.js("const t = document.getElementById('trendForm');"
         "t.elements.from.value = '2000-01-01T00:00:00'; t.requestSubmit(); true")
    drawn = wait_for(lambda: b.js("!!(window.Chart && document.getElementById('trendChart')"
                                  ".getContext('2d').getImageData(0,0,400,300).data.some(v => v))"),
                     15)
    check(bool(drawn), "the trend is drawn with the station's own chart library")
    b.screenshot(os.path.join(screens, "trend.png"))
    b.js("location.hash = '#journal'; true")
    b.js("document.getElementById('journalForm').requestSubmit(); true")
    events = wait_for(lambda: b.js("document.querySelectorAll('#journalTable tbody tr').length"),
                      10)
    check(bool(events), f"the journal shows the station's events ({events})")
    b.screenshot(os.path.join(screens, "journal.png"))
    b.ws.close()
    end(b.proc)


def tls_checks(args):
    """Off loopback: only TLS, with the station's own certificate whose fingerprint it logs."""
    import hashlib
    import re
    import ssl
    folder = program_folder(args)
    port = free_port()
    with open(os.path.join(folder, "web.conf"), "w") as f:
        f.write(f"listen = 0.0.0.0\nport = {port}\n")
    subprocess.run([os.path.join(folder, "mirv-stationd"), "--add-web-user", USER],
                   input=PASSWORD + "\n", text=True, capture_output=True)
    log = open(os.path.join(folder, "service.log"), "w+")
    station = start([os.path.join(folder, "mirv-stationd")], stderr=log)
    serving = wait_for(lambda: "web: serving https://0.0.0.0:" in open(log.name).read(), 30)
    check(bool(serving), "off loopback the pages are served over TLS")
    said = re.search(r"self-signed certificate .*web-cert.pem, SHA-256 fingerprint ([0-9A-F:]+)",
                     open(log.name).read())
    check(bool(said), "the certificate it made and its fingerprint are logged")
    if serving and said:
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        c = http.client.HTTPSConnection("127.0.0.1", port, timeout=10, context=context)
        c.request("POST", "/login", body=urllib.parse.urlencode(
            {"user": USER, "password": PASSWORD}),
            headers={"Content-Type": "application/x-www-form-urlencoded"})
        r = c.getresponse()
        r.read()
        der = c.sock.getpeercert(binary_form=True)
        shown = ":".join(f"{b:02X}" for b in hashlib.sha256(der).digest())
        check(shown == said.group(1), "the logged fingerprint is the served certificate's")
        check(r.status == 303 and "; Secure" in (r.getheader("Set-Cookie") or ""),
              "under TLS the session cookie is Secure")
        c.close()
        plain = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        try:
            plain.request("GET", "/login")
            answered = plain.getresponse().status == 200
        except (OSError, http.client.HTTPException):
            answered = False
        check(not answered, "plain HTTP gets no page off loopback")
    end(station)
    check(os.path.exists(os.path.join(folder, "web-key.pem")) and
          oct(os.stat(os.path.join(folder, "web-key.pem")).st_mode & 0o077) == "0o0",
          "the key is kept for the station only")


def main():
    p = argparse.ArgumentParser()
    for name in ("--service", "--history", "--sim", "--make-db", "--schema"):
        p.add_argument(name, required=True)
    p.add_argument("--screens", default=os.path.join(os.getcwd(), "web-screens"))
    args = p.parse_args()
    os.makedirs(args.screens, exist_ok=True)
    folder = program_folder(args)
    port = free_port()
    with open(os.path.join(folder, "web.conf"), "w") as f:
        f.write(f"listen = 127.0.0.1\nport = {port}\n")
    service = os.path.join(folder, "mirv-stationd")
    added = subprocess.run([service, "--add-web-user", USER], input=PASSWORD + "\n",
                           capture_output=True, text=True)
    check(added.returncode == 0, f"a user is added: {added.stderr.strip()}")
    users = open(os.path.join(folder, "web.passwd")).read()
    check(PASSWORD not in users and users.startswith(USER + " $argon2id$"),
          "the users file holds a hash, not the password")

    link = os.path.join(folder, "ports", "com1")
    start([args.sim, "--link", link, "--baud", "19200", "--meters", "1-3"],
          stderr=subprocess.DEVNULL)
    if not wait_for(lambda: os.path.lexists(link), 10):
        sys.exit("the simulator made no link")
    log = open(os.path.join(folder, "service.log"), "w+")
    env = dict(os.environ, MIRV_TEST_MINUTE_MS="1000")
    station = start([service], stderr=log, env=env)
    serving = wait_for(lambda: "web: serving http://" in open(log.name).read(), 30)
    check(bool(serving), "the service serves its pages")
    try:
        if serving:
            web = Web(port)
            api_checks(web, port)
            browser_checks(args, folder, port, args.screens)
            check(station.poll() is None, "the service still runs")
            end(station)
            tls_checks(args)
    finally:
        for proc in reversed(started):
            end(proc)
        print(open(log.name).read())
        for f in folders:
            shutil.rmtree(f, ignore_errors=True)
    print(f"screenshots in {args.screens}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
