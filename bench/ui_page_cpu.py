#!/usr/bin/env python3
"""What the web page costs the daemon, on the large scenario (33 agents, 500 clients, its
timeline of roams and faults).

The optimised ozr and meshsim run on a private segment (the browser test's harness,
tests/tools/ui/ui_browser_test.py). After a warm-up:

1. The cost of one answer of /ui/mesh, measured on the daemon's CPU time
   (/proc/<pid>/schedstat, nanoseconds): a render (the state version moved, as a request
   to a plain route makes it) and a cache hit answered 304, each less the plain request
   and the daemon's own work meanwhile.
2. Phases without and with a headless Chromium showing /ui/ alternate. For each, the
   daemon's CPU share, and in the page's phases the renders and hits of the cached
   documents (/debug/context) and the page's answers (200 new, 304 unchanged, from the
   browser's network log). The page's cost is then renders x render + hits x hit: a
   figure the machine's other load does not move, unlike the difference of the shares.

With --callgrind the daemon runs under valgrind's callgrind instead: one phase without and
one with the page, each dumped on its own (callgrind_control), give the instructions of the
whole daemon and of its REST server (HttpServer::on_read, inclusive). The page's share of
the daemon's work is then a count of instructions, whatever else the machine runs.

  cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release -DOZR_TESTS=OFF -DOZR_BENCH=OFF
  cmake --build build/rel -j2 --target ozr meshsim
  OZR_BUILD_DIR=build/rel /usr/bin/python3 bench/ui_page_cpu.py [phase seconds] [pairs]
  OZR_BUILD_DIR=build/rel /usr/bin/python3 bench/ui_page_cpu.py --callgrind [phase seconds]
"""
import http.client
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools", "ui"))
import ui_browser_test as ui  # noqa: E402

WARM_UP_S = 40


def cpu_ns(pid):
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0])


class Client:
    def __init__(self, port):
        self.c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)

    def get(self, path, headers=None):
        self.c.request("GET", path, headers=headers or {})
        r = self.c.getresponse()
        r.read()
        return r.status, r.getheader("ETag")


def cache_counts(mesh):
    """Renders and hits of the cached documents so far."""
    with urllib.request.urlopen(mesh.url("/debug/context"), timeout=10) as r:
        s = json.loads(r.read())["[/debug/context]"]
    return s["rest-cache-renders"], s["rest-cache-hits"]


def per_request_ms(mesh, client, requests, n=200):
    """CPU ms per round of REQUESTS (paths, or (path, headers)), less the daemon's rate of
    work measured just before."""
    pid = mesh.daemon.pid
    c0, t0 = cpu_ns(pid), time.monotonic()
    time.sleep(2)
    base = (cpu_ns(pid) - c0) / (time.monotonic() - t0)
    c0, t0 = cpu_ns(pid), time.monotonic()
    for _ in range(n):
        for r in requests:
            client.get(*(r if isinstance(r, tuple) else (r,)))
    spent = cpu_ns(pid) - c0 - base * (time.monotonic() - t0)
    return spent / n / 1e6


def mesh_answers(driver):
    """The statuses of the page's /ui/mesh answers since the last call: {200: n, 304: n}."""
    counts = {}
    for entry in driver.get_log("performance"):
        m = json.loads(entry["message"])["message"]
        if m.get("method") == "Network.responseReceived":
            r = m["params"]["response"]
            if r["url"].endswith("/ui/mesh"):
                counts[r["status"]] = counts.get(r["status"], 0) + 1
    return counts


def browser(mesh):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = ui.CHROMIUM
    for a in ui.CHROMIUM_FLAGS + ("--user-data-dir=" + os.path.join(mesh.root, "chromium"),):
        options.add_argument(a)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    return webdriver.Chrome(service=Service(ui.CHROMEDRIVER), options=options)


def instructions(dump):
    """The instructions of a callgrind dump: in all, and under HttpServer::on_read."""
    out = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", dump],
                         capture_output=True, text=True, check=True).stdout
    total = rest = 0
    for line in out.splitlines():
        number = line.strip().split(" ")[0].replace(",", "")
        if "PROGRAM TOTALS" in line:
            total = int(number)
        elif "HttpServer::on_read" in line and number.isdigit():
            rest = max(rest, int(number))
    return total, rest


def callgrind(phase_s):
    out = tempfile.mkdtemp(prefix="ozr-ui-callgrind.")
    mesh = ui.Mesh("large.json", args=["--log-level=notice"],
                   wrapper=["valgrind", "--tool=callgrind", "--callgrind-out-file=%s/out" % out])
    driver = browser(mesh)
    try:
        ui.until(120, "the daemon's REST port", lambda: mesh.get("/1/version") == 200)
        time.sleep(2 * WARM_UP_S)
        pid = str(mesh.daemon.pid)
        subprocess.run(["callgrind_control", "-z", pid], check=True, capture_output=True)
        rows = []
        for with_page in (False, True):
            driver.get(mesh.url("/ui/") if with_page else "about:blank")
            mesh_answers(driver)
            time.sleep(phase_s)
            subprocess.run(["callgrind_control", "-d", pid], check=True, capture_output=True)
            answers = mesh_answers(driver)
            dumps = sorted(f for f in os.listdir(out) if f.startswith("out."))
            total, rest = instructions(os.path.join(out, dumps[-1]))
            rows.append((total, rest))
            print("%-7s %4d s under callgrind: %.0f M instructions, the REST server %.2f M%s" % (
                "page" if with_page else "no page", phase_s, total / 1e6, rest / 1e6,
                " (/ui/mesh: %d new, %d unchanged)" % (answers.get(200, 0), answers.get(304, 0))
                if with_page else ""), flush=True)
        print("the page's requests: %.2f %% of the daemon's instructions without it; the daemon's "
              "instructions with the page: %+.2f %%" % (
                  100.0 * rows[1][1] / rows[0][0], 100.0 * (rows[1][0] - rows[0][0]) / rows[0][0]))
    finally:
        driver.quit()
        mesh.stop()
        shutil.rmtree(out, ignore_errors=True)


def main():
    if sys.argv[1:2] == ["--callgrind"]:
        return callgrind(int(sys.argv[2]) if len(sys.argv) > 2 else 120)
    phase_s = int(sys.argv[1]) if len(sys.argv) > 1 else 60
    pairs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    mesh = ui.Mesh("large.json", args=["--log-level=notice"])
    driver = browser(mesh)
    try:
        ui.until(30, "the daemon's REST port", lambda: mesh.get("/1/version") == 200)
        time.sleep(WARM_UP_S)
        client = Client(mesh.port)
        plain = per_request_ms(mesh, client, ["/1/version"])
        render = per_request_ms(mesh, client, ["/1/version", "/ui/mesh"]) - plain
        with urllib.request.urlopen(mesh.url("/ui/mesh"), timeout=10) as r:
            size = len(r.read())
        tag = client.get("/ui/mesh")[1]
        hit = per_request_ms(mesh, client, [("/ui/mesh", {"If-None-Match": tag})])
        print("/ui/mesh (%d bytes): a render and its answer %.3f ms, a 304 from the kept text %.3f ms "
              "(a plain request %.3f ms)" % (size, render, hit, plain), flush=True)
        rows = []
        for i in range(2 * pairs):
            with_page = i % 2 == 1
            driver.get(mesh.url("/ui/") if with_page else "about:blank")
            mesh_answers(driver)
            r0, h0 = cache_counts(mesh)
            t0, c0 = time.monotonic(), cpu_ns(mesh.daemon.pid)
            time.sleep(phase_s)
            t1, c1 = time.monotonic(), cpu_ns(mesh.daemon.pid)
            r1, h1 = cache_counts(mesh)
            answers = mesh_answers(driver)
            share = 100.0 * (c1 - c0) / ((t1 - t0) * 1e9)
            cost = 100.0 * ((r1 - r0) * render + (h1 - h0) * hit) / 1e3 / (t1 - t0)
            rows.append((with_page, share, cost))
            extra = ""
            if with_page:
                extra = ("  page: %d new, %d unchanged; %d renders, %d hits: %.3f %% of a core" %
                         (answers.get(200, 0), answers.get(304, 0), r1 - r0, h1 - h0, cost))
            print("%-7s %4.0f s  daemon CPU %.3f %% of a core%s" % (
                "page" if with_page else "no page", t1 - t0, share, extra), flush=True)
        mean = lambda xs: sum(xs) / len(xs)  # noqa: E731
        without = mean([r[1] for r in rows if not r[0]])
        withp = mean([r[1] for r in rows if r[0]])
        print("the page's renders and answers: %.3f %% of a core; difference of the shares: "
              "%.3f %% (%.3f %% without, %.3f %% with)" % (
                  mean([r[2] for r in rows if r[0]]), withp - without, without, withp))
    finally:
        driver.quit()
        mesh.stop()


if __name__ == "__main__":
    why = ui.missing()
    if why:
        sys.exit("ui_page_cpu: " + why)
    main()
