#!/usr/bin/env python3
"""The default mesh under loss: how long the daemon takes to learn it, and whether anything
live leaves its graph afterwards.

For each seed, one daemon and one meshsim run side by side (each on its own private segment
under its own temporary OZR_ROOT) on the default scenario without its timeline, so every
device, backhaul and association stays up for the whole run; meshsim loses the frames its
fault options say. /debug/graph is sampled every second: the run is learned once the graph
holds the 3 agents, their 3 backhauls (gateway to controller, both extenders to the
gateway) and the 9 association links; after that, every sample that holds fewer is a
device, backhaul or association the daemon let go while it was live. The daemon's largest
resident set is sampled too.

  bench/lossy_mesh.py [--seconds N] [--seeds 1,2,3,4,5] [--loss ALL] [--mcast-loss M]
                      [--build DIR] [--learn-within S] [--any-hold] [--keep] [--record TAG]
    --seconds N        length of each run (default 600)
    --learn-within S   the verdict's bound on the learning time (default 30)
    --any-hold         what the graph holds after it was learned is reported, not judged
    --keep             keep each run's root (logs, capture) and name it
    --record TAG       write the result as section TAG of BENCHMARKS.md

Fails (exit 1) when a daemon dies, a run is not learned within the bound, or anything
leaves the graph after it was learned (unless --any-hold).
"""
import argparse
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
CONTROLLER = "026f7a720000"
GATEWAY = "026f7a720100"
DEVICES = {GATEWAY: CONTROLLER, "026f7a720200": GATEWAY, "026f7a720300": GATEWAY}
ASSOCS = 9


def counts(graph):
    """(devices, backhauls, associations) of the default mesh in one /debug/graph."""
    devices = backhauls = assocs = 0
    for n in graph.get("nodes", []):
        if n.get("kind") != "device" or n.get("mac") not in DEVICES:
            continue
        devices += 1
        if (n.get("backhaul") or {}).get("remote-ale") == DEVICES[n["mac"]]:
            backhauls += 1
        assocs += sum(1 for l in n.get("links", []) if l.get("kind") == "ASSOC")
    return devices, backhauls, assocs


class Run:
    def __init__(self, build, seed, faults, seconds):
        self.seed = seed
        self.root = tempfile.mkdtemp(prefix="ozr-lossy.")
        cfg = os.path.join(self.root, "configs", "easymesh")
        os.makedirs(cfg)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        segment = "239.207.%d.%d:%d" % (random.randrange(1, 250), random.randrange(1, 250),
                                        random.randrange(20000, 40000))
        with open(os.path.join(cfg, "map_stack.json"), "w") as f:
            json.dump({"transport": "segment", "segment": segment,
                       "interfaces": [{"name": "ozr0", "mac": "02:6f:7a:72:00:01"}],
                       "al_mac": "02:6f:7a:72:00:00", "agent_al_mac": "02:6f:7a:72:01:00"}, f)
        with open(os.path.join(cfg, "platform.json"), "w") as f:
            json.dump({"mesh-rest-listen-address": {"rest-ipv4": "127.0.0.1",
                                                    "rest-port": self.port}}, f)
        with open(os.path.join(TOP, "tools", "meshsim", "scenarios", "default.json")) as f:
            scenario = json.load(f)
        scenario["timeline"] = []
        path = os.path.join(self.root, "scenario.json")
        with open(path, "w") as f:
            json.dump(scenario, f)
        env = dict(os.environ, OZR_ROOT=self.root,
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=%s/no-system-bus" % self.root)
        out = open(os.path.join(self.root, "ozr.out"), "w")
        self.daemon = subprocess.Popen(
            [os.path.join(build, "src", "main", "ozr"), "--log-path=" + self.root + "/ozr.log",
             "--log-level=notice"], env=env, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        out = open(os.path.join(self.root, "meshsim.log"), "w")
        self.sim = subprocess.Popen(
            [os.path.join(build, "tools", "meshsim", "meshsim"), "--scenario", path,
             "--segment", segment, "--seed", str(seed)] + faults,
            env=env, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        self.start = time.monotonic()
        self.end = self.start + seconds
        self.learned = None  # seconds after the start
        self.least = None  # (devices, backhauls, assocs) after it was learned
        self.short = 0  # samples after it was learned that held less than the whole mesh
        self.samples = 0
        self.rss_kb = 0
        self.died = False

    def sample(self):
        if self.daemon.poll() is not None:
            self.died = True
            return
        try:
            with open("/proc/%d/status" % self.daemon.pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        self.rss_kb = max(self.rss_kb, int(line.split()[1]))
        except OSError:
            pass
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/debug/graph" % self.port,
                                        timeout=5) as r:
                c = counts(json.load(r))
        except (OSError, ValueError):
            return
        whole = c == (3, 3, ASSOCS)
        if self.learned is None:
            if whole:
                self.learned = time.monotonic() - self.start
                self.least = c
            return
        self.samples += 1
        self.least = tuple(min(a, b) for a, b in zip(self.least, c))
        if not whole:
            self.short += 1

    def stop(self, keep):
        for p in (self.sim, self.daemon):
            if p.poll() is None:
                p.terminate()
        for p in (self.sim, self.daemon):
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        faults = ""
        with open(os.path.join(self.root, "meshsim.log"), errors="replace") as f:
            for line in f:
                if line.startswith("meshsim: faults (seed") and "frames" in line:
                    faults = line.strip()
        self.faults = faults.replace("meshsim: ", "")
        if not keep:
            shutil.rmtree(self.root, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--seconds", type=int, default=600)
    ap.add_argument("--seeds", default="1,2,3,4,5")
    ap.add_argument("--loss")
    ap.add_argument("--mcast-loss")
    ap.add_argument("--build", default=os.path.join(TOP, "build", "default"))
    ap.add_argument("--learn-within", type=float, default=30)
    ap.add_argument("--any-hold", action="store_true")
    ap.add_argument("--keep", action="store_true")
    ap.add_argument("--record")
    a = ap.parse_args()
    faults = []
    if a.loss:
        faults += ["--loss", a.loss]
    if a.mcast_loss:
        faults += ["--mcast-loss", a.mcast_loss]
    commit = subprocess.run(["git", "-C", TOP, "rev-parse", "--short=12", "HEAD"],
                            capture_output=True, text=True).stdout.strip()
    started = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # the daemons stop with the script
    runs = [Run(a.build, int(s), faults, a.seconds) for s in a.seeds.split(",")]
    try:
        while any(time.monotonic() < r.end and not r.died for r in runs):
            for r in runs:
                if time.monotonic() < r.end and not r.died:
                    r.sample()
            time.sleep(1)
    finally:
        for r in runs:
            r.stop(a.keep)
    ok = True
    rows = []
    for r in runs:
        learned = "%.0f s" % r.learned if r.learned is not None else "never"
        least = "%d / %d / %d" % r.least if r.least else "-"
        verdict = "ok"
        if r.died:
            verdict = "daemon died"
        elif r.learned is None or r.learned > a.learn_within:
            verdict = "learned late"
        elif r.short and not a.any_hold:
            verdict = "%d samples short" % r.short
        elif r.short:
            verdict = "ok (%d samples short)" % r.short
        ok = ok and verdict.startswith("ok")
        rows.append("| %d | %s | %s | %d | %.1f | %s |" % (r.seed, learned, least, r.samples,
                                                            r.rss_kb / 1024, verdict))
        print("lossy_mesh: seed %d: learned after %s; least after: %s devices / backhauls / "
              "associations; %d samples, %d short; largest RSS %d KiB; %s" %
              (r.seed, learned, least, r.samples, r.short, r.rss_kb, r.faults) +
              ("; kept in %s" % r.root if a.keep else ""))
    print("lossy_mesh: %s" % ("PASS" if ok else "FAIL"))
    if a.record:
        section = "\n".join([
            "<!-- %s -->" % a.record,
            "## The default mesh under loss: meshsim `%s` (`bench/lossy_mesh.py`)" % " ".join(faults),
            "",
            "The RelWithDebInfo daemon and meshsim on the default scenario without its timeline "
            "(3 agents, 3 backhauls, 9 association links, all live throughout), one pair per seed "
            "side by side, %d s each, `/debug/graph` sampled every second. Commit %s, %s, on the "
            "shared 2-core machine." % (a.seconds, commit, started),
            "",
            "| seed | whole mesh learned after | least held after (devices / backhauls / "
            "associations) | samples after | largest RSS (MiB) | verdict |",
            "|---|---|---|---|---|---|",
        ] + rows + ["<!-- /%s -->" % a.record])
        path = os.path.join(TOP, "BENCHMARKS.md")
        with open(path) as f:
            text = f.read()
        open_tag, close_tag = "<!-- %s -->" % a.record, "<!-- /%s -->" % a.record
        if open_tag in text and close_tag in text:
            text = text[:text.index(open_tag)] + section + text[text.index(close_tag) + len(close_tag):]
        else:
            text = text.rstrip("\n") + "\n\n" + section + "\n"
        with open(path + ".new", "w") as f:
            f.write(text)
        os.replace(path + ".new", path)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
