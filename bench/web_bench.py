#!/usr/bin/python3
"""web_bench.py [BUILD] [SECONDS]: the service's web pages under load.

The built service polls three simulated meters, a tick a second (WEB_BENCH_INTERVAL ms), with
its pages on.
It measures
  - the latency from a meter's answer leaving the simulator to the board reaching a browser's
    event stream (the simulator logs each answer as it sends it),
  - the pages' weight without the chart library,
  - the longest poll gap (the line's longest cycle, against the set interval) while 50 clients
    hammer the pages and the API for SECONDS (default 30), and the requests they got answered.
Every process it starts it ends by its PID."""
import http.client
import json
import os
import random
import subprocess
import sys
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "e2e"))
import web_browser_test as w  # noqa: E402

build = os.path.join(here, "..", sys.argv[1] if len(sys.argv) > 1 else "build-san")
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
CLIENTS = 50
INTERVAL_MS = int(os.environ.get("WEB_BENCH_INTERVAL", "1000"))


class Args:
    service = os.path.join(build, "station", "mirv-stationd")
    make_db = os.path.join(build, "tools", "make-database")
    schema = os.path.join(here, "..", "data", "schema.sql")


def line(web):
    return json.loads(web.request("GET", "/api/line")[1])


def main():
    folder = w.program_folder(Args)
    subprocess.run(["sqlite3", os.path.join(folder, "mirv.mdb"),
                    f"UPDATE mirve SET timer = '{INTERVAL_MS}'"], check=True)
    port = w.free_port()
    with open(os.path.join(folder, "web.conf"), "w") as f:
        f.write(f"port = {port}\n")
    subprocess.run([os.path.join(folder, "mirv-stationd"), "--add-web-user", w.USER],
                   input=w.PASSWORD + "\n", text=True, check=True, capture_output=True)
    link = os.path.join(folder, "ports", "com1")
    answers = []
    sim = w.start([os.path.join(build, "tools", "meter-sim"), "--link", link, "--baud", "19200",
                   "--meters", "1-3", "--pace", "--verbose"], stderr=subprocess.PIPE, text=True)

    def read_sim():
        for text in sim.stderr:
            if text.startswith("answer"):
                answers.append(time.monotonic())
    threading.Thread(target=read_sim, daemon=True).start()
    w.wait_for(lambda: os.path.lexists(link), 10)
    log = open(os.path.join(folder, "service.log"), "w+")
    w.start([os.path.join(folder, "mirv-stationd")], stderr=log)
    try:
        if not w.wait_for(lambda: "web: serving" in open(log.name).read(), 30):
            sys.exit("the service did not serve: " + open(log.name).read())
        web = w.Web(port)
        web.login(w.USER, w.PASSWORD)
        weight = sum(len(web.request("GET", p)[1]) for p in ("/", "/app.js", "/style.css"))
        print(f"page weight without the chart library: {weight} bytes "
              f"(chart library {len(web.request('GET', '/chart.min.js')[1])} bytes)")

        # Latency: each board event against the answer just before it.
        events = []
        stop = threading.Event()

        def stream():
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
            c.request("GET", "/api/events", headers={"Cookie": web.cookie})
            r = c.getresponse()
            while not stop.is_set():
                text = r.fp.readline()
                if not text:
                    break
                if text.startswith(b"event: board"):
                    events.append(time.monotonic())
        t = threading.Thread(target=stream, daemon=True)
        t.start()
        time.sleep(12)
        before = line(web)

        def latencies():
            out = []
            for e in events[1:]:
                earlier = [a for a in answers if a <= e]
                if earlier and e - earlier[-1] < INTERVAL_MS / 1000:
                    out.append(e - earlier[-1])
            return out
        quiet = latencies()
        print(f"answer -> page, quiet: {len(quiet)} events, median "
              f"{sorted(quiet)[len(quiet) // 2] * 1000:.1f} ms, worst {max(quiet) * 1000:.1f} ms")

        counts = [0] * CLIENTS
        slowest = [0.0] * CLIENTS
        paths = ["/", "/app.js", "/style.css", "/api/board", "/api/line",
                 "/api/energy?from=2000-01-01&to=2100-01-01",
                 "/api/journal?from=2000-01-01&to=2100-01-01", "/api/quantities"]
        end_at = time.monotonic() + seconds
        events.clear()

        def hammer(i):
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
            while time.monotonic() < end_at:
                t0 = time.monotonic()
                try:
                    c.request("GET", random.choice(paths), headers={"Cookie": web.cookie})
                    c.getresponse().read()
                    counts[i] += 1
                except (OSError, http.client.HTTPException):
                    c.close()
                    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
                slowest[i] = max(slowest[i], time.monotonic() - t0)
        threads = [threading.Thread(target=hammer, args=(i,)) for i in range(CLIENTS)]
        samples = []
        for th in threads:
            th.start()
        while time.monotonic() < end_at:
            samples.append(line(web)["cycleLastUs"])
            time.sleep(0.5)
        for th in threads:
            th.join()
        after = line(web)
        loaded = latencies()
        stop.set()
        ticks = after["ticks"] - before["ticks"]
        print(f"{CLIENTS} clients for {seconds:.0f} s: {sum(counts)} requests answered "
              f"({sum(counts) / seconds:.0f}/s), slowest answer {max(slowest) * 1000:.0f} ms")
        print(f"poll interval {INTERVAL_MS} ms: {ticks} ticks under load; longest cycle seen "
              f"in 0.5 s samples {max(samples) / 1000:.1f} ms; longest cycle since start "
              f"{before['cycleMaxUs'] / 1000:.1f} ms before the load, "
              f"{after['cycleMaxUs'] / 1000:.1f} ms after it")
        if loaded:
            print(f"answer -> page under load: {len(loaded)} events, median "
                  f"{sorted(loaded)[len(loaded) // 2] * 1000:.1f} ms, "
                  f"worst {max(loaded) * 1000:.1f} ms")
    finally:
        for p in reversed(w.started):
            w.end(p)
        import shutil
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
