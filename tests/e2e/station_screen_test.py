#!/usr/bin/env python3
"""The built station on a real X screen: Xvfb on the xcb platform, meters simulated on a
pseudo-terminal, and what the X server shows (its own pixels) or what the accessibility bus
offers (AT-SPI), never the widget tree.

    station_screen_test.py pixels|atspi|attached --station FILE --sim FILE --make-db FILE
        --schema FILE [--service FILE]

Every process it starts (Xvfb, the buses, the simulator, the station) it ends by its PID.
"""
import argparse
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

WIDTH, HEIGHT = 1200, 600
# The board's cells left to right in logical pixels (twips / 15), as the window lays them out.
CELL_WIDTHS = [76, 68, 68, 68, 92, 84, 68, 68, 92, 92, 140]
CELL_GAPS = [4] * 10
CELL_HEIGHT = 25
POLL_MS = 700  # five meters: each row is polled every 3.5 s

failures = []
folders = []


def check(ok, what):
    print(("ok:   " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        failures.append(what)


class Processes:
    """The programs this test started, ended newest first by PID, with their children."""

    def __init__(self):
        self.started = []

    def start(self, args, **kw):
        p = subprocess.Popen(args, **kw)
        self.started.append(p)
        return p

    def end(self, p, sig=signal.SIGTERM):
        for child in children(p.pid):
            end_tree(child)
        if p.poll() is None:
            p.send_signal(sig)
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    def end_all(self):
        for p in reversed(self.started):
            self.end(p)


def children(pid):
    found = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as f:
                found += [int(c) for c in f.read().split()]
    except OSError:
        pass
    return found


def end_tree(pid):
    for child in children(pid):
        end_tree(child)
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass


def start_xvfb(procs):
    """An X server on the first free display number, which it reports itself. Without
    -noreset it resets whenever its last client leaves, and a client that connects meanwhile
    (the station after a probe or a capture) is refused."""
    read_end, write_end = os.pipe()
    procs.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{WIDTH}x{HEIGHT}x24",
                 "-noreset", "-nolisten", "tcp"], pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            sys.exit("Xvfb did not start")
        number += chunk
    os.close(read_end)
    display = ":" + number.decode().strip()
    # The server said it is ready; a display that still takes no client is said so here, not
    # later as an empty screen.
    for _ in range(50):
        probe = subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True,
                               env=dict(os.environ, DISPLAY=display))
        if probe.returncode == 0:
            return display
        time.sleep(0.1)
    sys.exit(f"Xvfb reported {display}, which takes no client")


def start_session_bus(procs):
    read_end, write_end = os.pipe()
    procs.start(["dbus-daemon", "--session", "--nofork", f"--print-address={write_end}"],
                pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    address = b""
    while not address.endswith(b"\n"):
        chunk = os.read(read_end, 256)
        if not chunk:
            sys.exit("dbus-daemon did not start")
        address += chunk
    os.close(read_end)
    return address.decode().strip()


def program_folder(args, count):
    folder = tempfile.mkdtemp(prefix="mirv-screen-")
    folders.append(folder)
    os.makedirs(os.path.join(folder, "ports"))
    shutil.copy(args.station, os.path.join(folder, "mirv-station"))
    db = os.path.join(folder, "mirv.mdb")
    subprocess.run([args.make_db, args.schema, db], check=True)
    with sqlite3.connect(db) as c:
        c.execute("UPDATE mirve SET timer = ?, minute = '1', com = 1, Settings = '19200', "
                  "num = ?", (str(POLL_MS), str(count)))
    return folder


def start_sim(procs, args, folder, extra):
    link = os.path.join(folder, "ports", "com1")
    sim = procs.start([args.sim, "--link", link, "--baud", "19200", "--meters", "1-5"] + extra,
                      stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.lexists(link):
            return sim
        time.sleep(0.05)
    sys.exit("the simulator made no link")


def capture(display):
    """The X server's root window as rows of RGB bytes."""
    raw = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8",
                          "rgb:-"], check=True, capture_output=True).stdout
    assert len(raw) == WIDTH * HEIGHT * 3, len(raw)
    return [raw[y * WIDTH * 3:(y + 1) * WIDTH * 3] for y in range(HEIGHT)]


def white_runs(line):
    runs, x = [], 0
    while x < WIDTH:
        if line[3 * x:3 * x + 3] == b"\xff\xff\xff":
            start = x
            while x < WIDTH and line[3 * x:3 * x + 3] == b"\xff\xff\xff":
                x += 1
            runs.append((start, x - start))
        else:
            x += 1
    return runs


def board_rows(shot):
    """The inner rectangles (x, y, w, h) of each board row's cells, top to bottom: found as the
    screen lines whose white runs are the cells' insides side by side."""
    want = [w - 2 for w in CELL_WIDTHS]
    rows = []
    for y in range(HEIGHT):
        if rows and y < rows[-1][0][1] + CELL_HEIGHT:
            continue
        runs = [r for r in white_runs(shot[y]) if r[1] >= 20]
        for i in range(len(runs) - len(want) + 1):
            group = runs[i:i + len(want)]
            if [r[1] for r in group] == want and all(
                    group[k + 1][0] - group[k][0] - group[k][1] == CELL_GAPS[k] + 2
                    for k in range(len(want) - 1)):
                rows.append([(x, y, w, CELL_HEIGHT - 2) for x, w in group])
                break
    return rows


def region(shot, rect):
    x, y, w, h = rect
    return b"".join(shot[yy][3 * x:3 * (x + w)] for yy in range(y, y + h))


def inked(shot, rect):
    """How many pixels of a cell's inside are not its white ground: its text."""
    data = region(shot, rect)
    return sum(1 for i in range(0, len(data), 3) if data[i:i + 3] != b"\xff\xff\xff")


def red_number(shot, rows, meter):
    """Red pixels of the row number left of a row's first cell."""
    x, y, _, h = rows[meter - 1][0]
    data = region(shot, (x - 30, y, 26, h))
    return sum(1 for i in range(0, len(data), 3)
               if data[i] > 180 and data[i + 1] < 90 and data[i + 2] < 90)


def changed(a, b, rect):
    da, db = region(a, rect), region(b, rect)
    return sum(1 for i in range(0, len(da), 3) if da[i:i + 3] != db[i:i + 3])


def row_ink(shot, rows, meter):
    return [inked(shot, r) for r in rows[meter - 1]]


def wait_for(display, rows, pred, seconds):
    deadline = time.monotonic() + seconds
    shot = capture(display)
    while not pred(shot) and time.monotonic() < deadline:
        time.sleep(0.5)
        shot = capture(display)
    return shot


def xdotool(display, *args):
    return subprocess.run(["xdotool"] + list(args), env=dict(os.environ, DISPLAY=display),
                          check=True, capture_output=True, text=True).stdout


def command_line(station):
    """--help and --version, and a clear word when there is no display."""
    def run(*extra, env=None):
        return subprocess.run([station] + list(extra), capture_output=True, text=True, timeout=30,
                              env=env)
    bare = {k: v for k, v in os.environ.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    h = run("--help", env=bare)
    check(h.returncode == 0 and h.stdout.startswith("Usage: mirv-station")
          and "QT_QPA_PLATFORM" in h.stdout, f"--help: status {h.returncode}")
    v = run("--version", env=bare)
    check(v.returncode == 0 and re.fullmatch(r"mirv-station \d+\.\d+\.\d+\n", v.stdout),
          f"--version: status {v.returncode}, {v.stdout!r}")
    n = run(env=bare)
    check(n.returncode == 1 and n.stderr.count("\n") == 1
          and "QT_QPA_PLATFORM=offscreen" in n.stderr
          and "Xvfb" in n.stderr, f"without a display: status {n.returncode}, {n.stderr!r}")


def pixels_test(args, procs):
    display = start_xvfb(procs)
    folder = program_folder(args, 5)
    command_line(os.path.join(folder, "mirv-station"))
    sim = start_sim(procs, args, folder, ["--fault", "4:silent"])
    # A session bus of its own, so that nothing starts one for the station behind our back.
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               DBUS_SESSION_BUS_ADDRESS=start_session_bus(procs))
    procs.start([os.path.join(folder, "mirv-station")], env=env)

    # The empty board is on the screen before any reading is.
    shot = wait_for(display, None, lambda s: len(board_rows(s)) == 10, 20)
    rows = board_rows(shot)
    if len(rows) != 10:
        check(False, f"the board's 10 rows of cells are on the screen (found {len(rows)})")
        return

    answering = [1, 2, 3, 5]
    full = lambda s: all(all(row_ink(s, rows, m)) for m in answering)
    a = wait_for(display, rows, full, 15)
    check(full(a), "the answering meters' cells show text: ink per cell "
          + "; ".join(f"meter {m}: {row_ink(a, rows, m)}" for m in answering))
    check(not any(row_ink(a, rows, 4)),
          f"the silent meter 4's cells are empty: {row_ink(a, rows, 4)}")
    reds = [red_number(a, rows, m) for m in range(1, 11)]
    check(reds[3] and not any(reds[:3] + reds[4:]),
          f"only the silent meter 4's number is red: red pixels per row number {reds}")

    # A few polls later, with no input: every answering meter's row changed on the screen.
    time.sleep(3 * 5 * POLL_MS / 1000)
    b = capture(display)
    diffs = {m: sum(changed(a, b, r) for r in rows[m - 1]) for m in answering}
    check(all(diffs.values()), f"pixels changed per answering row between two captures: {diffs}")
    unpolled = sum(changed(a, b, r) for n in range(6, 11) for r in rows[n - 1])
    check(unpolled == 0, f"rows 6-10 (not polled) unchanged: {unpolled} pixels changed")

    # Away to the next tab and back: a full repaint shows what the screen already showed.
    # Only the rows polled in between may differ.
    window = xdotool(display, "search", "--sync", "--name", "MODBUS-RTU").split()[0]
    xdotool(display, "windowfocus", "--sync", window)
    before = capture(display)
    t0 = time.monotonic()
    # Tab moves the focus from the exit button to the tab bar; its arrow keys switch tabs.
    xdotool(display, "key", "Tab", "Right")
    time.sleep(0.3)
    away = capture(display)
    xdotool(display, "key", "Left")
    time.sleep(0.3)
    after = capture(display)
    polls = int((time.monotonic() - t0) * 1000 / POLL_MS) + 1
    check(board_rows(away) != rows, "the keys showed another tab")
    per_row = [sum(changed(before, after, r) for r in rows[n - 1]) for n in range(1, 11)]
    differing = [n for n, d in enumerate(per_row, 1) if d]
    check(board_rows(after) == rows and len(differing) <= polls,
          f"after a tab switch and back the board is as it was, but for the rows polled "
          f"meanwhile (at most {polls}): pixels changed per row {per_row}")

    # Meter 2 falls silent (the line comes back with it dead): its row empties on the screen.
    procs.end(sim)
    sim = start_sim(procs, args, folder, ["--fault", "4:silent", "--fault", "2:silent"])
    still = [1, 3, 5]
    silenced = lambda s: not any(row_ink(s, rows, 2)) and red_number(s, rows, 2) and all(
        all(row_ink(s, rows, m)) for m in still)
    c = wait_for(display, rows, silenced, 30)
    check(silenced(c), "meter 2 fell silent: its cells empty on the screen "
          f"({row_ink(c, rows, 2)}), its number red ({red_number(c, rows, 2)} pixels), "
          f"meters 1, 3, 5 still shown "
          f"({[sum(row_ink(c, rows, m)) for m in still]})")


def start_service(procs, args, folder):
    """The service in the folder, its environment cleared of any display; waits for its
    socket."""
    shutil.copy(args.service, os.path.join(folder, "mirv-stationd"))
    sock = os.path.join(folder, "mirv-station.sock")
    if os.path.lexists(sock):
        os.remove(sock)
    service = procs.start(["env", "-i", "PATH=/usr/bin:/bin", os.path.join(folder, "mirv-stationd")],
                          stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(sock):
            return service
        time.sleep(0.05)
    sys.exit("the service made no socket")


def attached_test(args, procs):
    """A window attached to the service shows the service's board; it empties and greys when
    the service is killed and fills again when it is back."""
    display = start_xvfb(procs)
    folder = program_folder(args, 5)
    start_sim(procs, args, folder, ["--fault", "4:silent"])
    service = start_service(procs, args, folder)
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               DBUS_SESSION_BUS_ADDRESS=start_session_bus(procs))
    procs.start([os.path.join(folder, "mirv-station")], env=env)

    shot = wait_for(display, None, lambda s: len(board_rows(s)) == 10, 20)
    rows = board_rows(shot)
    if len(rows) != 10:
        check(False, f"the attached window's 10 board rows are on the screen (found {len(rows)})")
        return
    answering = [1, 2, 3, 5]
    full = lambda s: all(all(row_ink(s, rows, m)) for m in answering) and red_number(s, rows, 4)
    a = wait_for(display, rows, full, 15)
    check(full(a), "attached: the answering meters' cells show text and meter 4's number is red: "
          + "; ".join(f"meter {m}: {row_ink(a, rows, m)}" for m in answering))
    time.sleep(3 * 5 * POLL_MS / 1000)
    b = capture(display)
    diffs = {m: sum(changed(a, b, r) for r in rows[m - 1]) for m in answering}
    check(all(diffs.values()), f"attached: pixels changed per answering row: {diffs}")

    procs.end(service, signal.SIGKILL)
    t0 = time.monotonic()
    empty = lambda s: not any(sum(row_ink(s, rows, m)) for m in range(1, 6)) and not any(
        red_number(s, rows, m) for m in range(1, 6))
    c = wait_for(display, rows, empty, 2)
    check(empty(c), f"the service killed: the board empty, no number red, within 2 s "
          f"({time.monotonic() - t0:.1f} s)")

    start_service(procs, args, folder)
    d = wait_for(display, rows, full, 15)
    check(full(d), "the service back: the window shows its board again")


def atspi_test(args, procs):
    display = start_xvfb(procs)
    bus = start_session_bus(procs)
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = bus
    os.environ["DISPLAY"] = display
    procs.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                stderr=subprocess.DEVNULL)
    time.sleep(1)
    folder = program_folder(args, 5)
    start_sim(procs, args, folder, ["--fault", "4:silent", "--alarm", "2:excite"])
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    station_process = procs.start([os.path.join(folder, "mirv-station")], env=env)

    import pyatspi

    def station():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "mirv-station":
                return app
        return None

    def board(app):
        """The first board tab's page: its captions, then per row its number, its name and 11
        cells, as (name, role, accessible)."""
        pages = [app]
        for _ in range(8):
            for page in pages:
                if page.childCount == 11 + 10 * 13 and page[0].name == "瞬时流量":
                    return [(c.name, c.getRoleName(), c) for c in page]
            pages = [c for p in pages for c in p if c is not None]
        return []

    deadline = time.monotonic() + 20
    items = []
    while time.monotonic() < deadline:
        app = station()
        items = board(app) if app else []
        # Header captions (11), then per row its number, its name and 11 cells.
        if len(items) == 11 + 10 * 13 and all(items[11 + 13 * 2 + 2 + k][0] for k in range(11)):
            break
        time.sleep(0.5)
    check(len(items) == 11 + 10 * 13, f"the board tab offers 141 items on the bus, found "
          f"{len(items)} (station exit status: {station_process.poll()})")
    if len(items) != 11 + 10 * 13:
        return
    captions = ["瞬时流量", "流速", "入口温度", "出口温度", "正向累积", "反向累积", "瞬时热量",
                "瞬时冷量", "累积热量", "累积冷量", "报警状态"]
    shown = [n for n, _, _ in items[:11]]
    check(shown == captions, f"captions readable: {shown}")
    numbers = [items[11 + 13 * r][0] for r in range(10)]
    check(numbers == [str(n) for n in range(1, 11)], f"row numbers readable: {numbers}")

    def row(meter):
        cells = items[11 + 13 * (meter - 1) + 2:11 + 13 * meter]
        return [c.name for _, _, c in cells], {role for _, role, _ in cells}, cells

    # Meter 2 as the simulator makes it: flow 12 +- 2 m3/h at a speed of flow / 28.3, the
    # outlet 7 to 9 degrees below the inlet, forward total from 2000.25, reverse 7, cold power
    # 0, cold total from 1000, heat total from 40000, and its excitation alarm.
    values, roles, cells = row(2)
    print("meter 2 on the bus:", values, flush=True)
    check(roles == {"label"}, f"cells are static texts ('label' on the bus): {roles}")
    try:
        flow, speed, inlet, outlet, forward, reverse, heat, cold, heat_total, cold_total = (
            float(v) for v in values[:10])
        sound = (10 <= flow <= 14 and abs(speed - flow / 28.3) < 0.0011
                 and 6.9 <= inlet - outlet <= 9.1 and 56 <= inlet <= 57.1
                 and 2000.25 <= forward < 2010 and reverse == 7 and cold == 0
                 and 40000 <= heat_total < 40100 and 1000 <= cold_total < 1000.1
                 and abs(heat - flow * (inlet - outlet) * 1.163) < 0.05 * heat)
    except ValueError:
        sound = False
    check(sound, f"meter 2's readings on the bus are the simulator's: {values[:10]}")
    check(values[10] == "通讯正常,励磁报警", f"meter 2's alarm on the bus: {values[10]!r}")
    check(row(4)[0] == [""] * 11, f"silent meter 4's cells are empty on the bus: {row(4)[0]}")
    check(all(row(m)[0] == [""] * 11 for m in range(6, 11)), "rows 6-10 are empty on the bus")

    # A reading that changes tells the bus so.
    events = {"object:property-change:accessible-name": 0}

    def heard(e):
        if e.type in events and e.source.getRoleName() == "label":
            events[e.type] += 1

    pyatspi.Registry.registerEventListener(heard, *events)
    from gi.repository import GLib
    GLib.timeout_add(4000, pyatspi.Registry.stop)
    pyatspi.Registry.start()
    check(all(events.values()), f"changed readings reported on the bus in 4 s: {events}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["pixels", "atspi", "attached"])
    parser.add_argument("--station", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--make-db", required=True)
    parser.add_argument("--schema", required=True)
    parser.add_argument("--service")
    args = parser.parse_args()
    procs = Processes()
    try:
        {"pixels": pixels_test, "atspi": atspi_test, "attached": attached_test}[args.mode](
            args, procs)
    finally:
        procs.end_all()
        for folder in folders:
            shutil.rmtree(folder, ignore_errors=True)
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
