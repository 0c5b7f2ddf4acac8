#!/usr/bin/env python3
"""The daemon's web page in headless chromium (chromedriver, python3-selenium) against two
meshes of the built ozr and meshsim: the default scenario, whose laptop roams 20 s after the
start, and hostile.json (markup and script in every text an agent names). Exit status 77
(ctest: skipped) with the reason when the browser, its driver, selenium or the programs are
missing.

  OZR_BUILD_DIR=build/dev /usr/bin/python3 tests/tools/ui/ui_browser_test.py
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SCENARIOS = os.path.join(HERE, "..", "..", "..", "tools", "meshsim", "scenarios")
BUILD = os.path.abspath(os.environ.get("OZR_BUILD_DIR", ""))
SKIP = 77

LAPTOP = "02c100000002"
GATEWAY_5G = "026f7a720121"
ROAM_S = 20
ROAM = [{"at_s": ROAM_S, "client": "02:c1:00:00:00:02", "rssi": {"02:6f:7a:72:02:21": -80}},
        {"at_s": ROAM_S, "client": "02:c1:00:00:00:02", "roam": "02:6f:7a:72:01:21"}]
ROAM_LINE = "timeline: client 02:c1:00:00:00:02 -> 02:6f:7a:72:01:21"
# Headless, and without the background requests that would go out to the network.
CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync")


def compact(mac):
    return mac.replace(":", "").lower()


def until(seconds, what, fn):
    """FN's first true value within SECONDS; otherwise fails saying what was waited for."""
    deadline = time.monotonic() + seconds
    while True:
        value = fn()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("waited %s s for %s" % (seconds, what))
        time.sleep(0.1)


def ended(proc, seconds):
    """PROC's exit status within SECONDS; None when it had to be killed."""
    try:
        return proc.wait(seconds)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return None


class Mesh:
    """ozr and meshsim on a private segment, with SCENARIO and its TIMELINE replaced."""

    count = 0

    def __init__(self, scenario, timeline):
        Mesh.count += 1
        self.root = tempfile.mkdtemp(prefix="ozr-ui.")
        cfg = os.path.join(self.root, "configs", "easymesh")
        os.makedirs(cfg)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        pid = os.getpid()
        segment = "239.206.%d.%d:%d" % ((pid >> 8) & 255, (pid + Mesh.count) & 255,
                                         34000 + (pid * 2 + Mesh.count) % 2000)
        with open(os.path.join(cfg, "map_stack.json"), "w") as f:
            json.dump({"transport": "segment", "segment": segment,
                       "interfaces": [{"name": "ozr0", "mac": "02:6f:7a:72:00:01"}],
                       "al_mac": "02:6f:7a:72:00:00", "agent_al_mac": "02:6f:7a:72:01:00",
                       "discovery_interval_s": 5}, f)
        with open(os.path.join(cfg, "platform.json"), "w") as f:
            json.dump({"mesh-rest-listen-address": {"rest-ipv4": "127.0.0.1", "rest-port": self.port},
                       "platform-journal-path": os.path.join(self.root, "journal.jsonl")}, f)
        with open(os.path.join(SCENARIOS, scenario)) as f:
            self.scenario = json.load(f)
        self.scenario["timeline"] = timeline
        self.scenario["discovery_interval_s"] = 5
        path = os.path.join(self.root, "scenario.json")
        with open(path, "w") as f:
            json.dump(self.scenario, f)
        env = dict(os.environ, OZR_ROOT=self.root,
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=%s/no-system-bus" % self.root)
        self.sim_log = os.path.join(self.root, "meshsim.log")
        with open(os.path.join(self.root, "ozr.out"), "w") as out, open(self.sim_log, "w") as sim_out:
            self.daemon = subprocess.Popen(
                [os.path.join(BUILD, "src", "main", "ozr"), "--log-path=" + os.path.join(self.root, "ozr.log")],
                env=env, stdout=out, stderr=subprocess.STDOUT)
            self.sim = subprocess.Popen(
                [os.path.join(BUILD, "tools", "meshsim", "meshsim"), "--scenario", path, "--segment", segment],
                env=env, stdout=sim_out, stderr=subprocess.STDOUT)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def get(self, path):
        try:
            with urllib.request.urlopen(self.url(path), timeout=5) as r:
                return r.status
        except urllib.error.HTTPError as e:
            return e.code
        except OSError:
            return 0

    def sim_said(self, line):
        with open(self.sim_log, errors="replace") as f:
            return line in f.read()

    def expected(self):
        """{device: parent} and {client: (device, bssid)} as the scenario builds them."""
        al = {a["name"]: compact(a["al_mac"]) for a in self.scenario["agents"]}
        controller = compact(self.scenario["controller"]["al_mac"])
        devices = {controller: ""}
        owner = {}
        for a in self.scenario["agents"]:
            parent = a["backhaul"]["parent"]
            devices[al[a["name"]]] = controller if parent == "controller" else al[parent]
            for r in a["radios"]:
                for b in r["bsss"]:
                    owner[compact(b["bssid"])] = al[a["name"]]
        clients = {compact(c["mac"]): (owner[compact(c["bssid"])], compact(c["bssid"]))
                   for c in self.scenario["clients"] if c.get("bssid")}
        return devices, clients

    def stop(self):
        """Asks the daemon to quit; its exit status (None when it had to be killed)."""
        self.get("/quit")
        status = ended(self.daemon, 60)
        self.sim.terminate()
        ended(self.sim, 10)
        return status

    def logs(self):
        """Where the logs are, and their ends."""
        out = "\nlogs in %s" % self.root
        for name in ("ozr.out", "ozr.log", "meshsim.log"):
            with open(os.path.join(self.root, name), errors="replace") as f:
                out += "\n--- %s (end)\n%s" % (name, f.read()[-2000:])
        return out


# The page as the test reads it: the drawing's devices and clients with their parents.
SNAPSHOT_JS = """
const q = (s) => [...document.querySelectorAll(s)];
return {
  devices: q('#mesh g[data-kind=device]').map((e) => [e.getAttribute('data-mac'), e.getAttribute('data-parent')]),
  clients: q('#mesh [data-kind=client]').map((e) => [e.getAttribute('data-mac'), e.getAttribute('data-device'),
                                                     e.getAttribute('data-bssid')]),
};
"""

# What a text could have made of the page: elements, event handler attributes, the title.
INJECTION_JS = """
const bad = [];
for (const e of document.querySelectorAll('*'))
  for (const a of e.attributes)
    if (/^on/i.test(a.name) || /^\\s*javascript:/i.test(a.value)) bad.push(e.tagName + ' ' + a.name);
const count = (t) => document.getElementsByTagName(t).length;
return {
  title: document.title,
  handlers: bad,
  tags: {img: count('img'), script: count('script'), iframe: count('iframe'), style: count('style'),
         b: count('b'), svg: count('svg'), title: count('title')},
  scripts: [...document.scripts].map((s) => s.getAttribute('src')),
  text: document.body.textContent,
};
"""


class Page(unittest.TestCase):
    driver = None
    meshes = {}
    passed = 0  # tests that ran to their end: the roots of a failed run stay for a look

    @classmethod
    def setUpClass(cls):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        # Both meshes come up while the browser starts.
        cls.meshes = {"default": Mesh("default.json", ROAM), "hostile": Mesh("hostile.json", [])}
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        cls.profile = tempfile.mkdtemp(prefix="ozr-ui-chromium.")
        for a in CHROMIUM_FLAGS + ("--user-data-dir=" + cls.profile, "--window-size=1500,950"):
            options.add_argument(a)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)

    @classmethod
    def tearDownClass(cls):
        if cls.driver:
            cls.driver.quit()
        shutil.rmtree(getattr(cls, "profile", ""), ignore_errors=True)
        failed = []
        for name, mesh in cls.meshes.items():
            status = mesh.stop()
            if status != 0:
                failed.append("%s: the daemon exited with %s%s" % (name, status, mesh.logs()))
            elif cls.passed == 2:
                shutil.rmtree(mesh.root, ignore_errors=True)
        if failed:
            raise AssertionError("\n".join(failed))

    def open(self, mesh):
        until(20, "the daemon's REST port", lambda: mesh.get("/1/version") == 200)
        self.driver.get(mesh.url("/"))
        self.assertTrue(self.driver.current_url.endswith("/ui/"), self.driver.current_url)

    def mesh_shown(self, mesh):
        """The page once it shows every device and client of MESH's scenario where they belong."""
        devices, clients = mesh.expected()

        def shown():
            s = self.driver.execute_script(SNAPSHOT_JS)
            return s if (dict(s["devices"]) == devices and
                         {c[0]: (c[1], c[2]) for c in s["clients"]} == clients and
                         len(s["clients"]) == len(clients)) else None
        try:
            return until(40, "every device and client of the scenario on the page", shown)
        except AssertionError:
            raise AssertionError("the page shows %s\nexpected devices %s, clients %s%s" % (
                self.driver.execute_script(SNAPSHOT_JS), devices, clients, mesh.logs()))

    def click(self, selector):
        """Clicks the element SELECTOR names, found anew should the page redraw meanwhile."""
        from selenium.common.exceptions import StaleElementReferenceException
        from selenium.webdriver.common.by import By

        def clicked():
            try:
                self.driver.find_element(By.CSS_SELECTOR, selector).click()
                return True
            except StaleElementReferenceException:
                return False
        until(5, "a click on " + selector, clicked)

    def console_clean(self):
        errors = [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(errors, [], "the browser's console has errors")

    def screenshot(self, name):
        path = os.path.join(BUILD, name)
        self.driver.save_screenshot(path)
        print("screenshot: %s" % path)

    def test_default_mesh_follows_a_roam(self):
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        mesh = self.meshes["default"]
        self.open(mesh)
        self.mesh_shown(mesh)
        self.assertFalse(mesh.sim_said(ROAM_LINE), "the roam came before the page showed the mesh")
        self.assertEqual(self.driver.title, "ozr mesh")

        # A device's details and the JSON they came from.
        self.click('#mesh g[data-mac="026f7a720300"]')
        until(5, "the details of ext-wifi", lambda: "02:6f:7a:72:03:00" in self.driver.find_element(By.ID, "facts").text)
        self.assertEqual(self.driver.find_element(By.ID, "source").get_attribute("href"), mesh.url("/1/aps/026f7a720300"))
        until(5, "the device's JSON", lambda: '"al-mac": "026f7a720300"' in self.driver.find_element(By.ID, "json").text)
        # The search box finds a client by its MAC, written either way.
        box = self.driver.find_element(By.ID, "search")

        def find(text):
            box.send_keys(Keys.CONTROL, "a")
            box.send_keys(Keys.DELETE)
            box.send_keys(text)
            return self.driver.execute_script(
                "return [...document.querySelectorAll('#mesh .hit')].map((e) => e.getAttribute('data-mac'))")
        for text in ("02:c1:00:00:00:05", "02C100000005"):
            self.assertEqual(find(text), ["02c100000005"])
            self.assertEqual(self.driver.find_element(By.ID, "hits").text, "1 match")
        # An SSID: every device with a BSS of it, and every client on one.
        self.assertEqual(sorted(find("home-backhaul")), ["026f7a720100", "026f7a720200"])
        self.assertEqual(find(""), [])

        # The roam, within 5 s of meshsim making it.
        until(ROAM_S + 40, "meshsim's roam (%s)" % ROAM_LINE, lambda: mesh.sim_said(ROAM_LINE))
        roamed = time.monotonic()

        def laptop_moved():
            clients = self.driver.execute_script(SNAPSHOT_JS)["clients"]
            return [c[1:] for c in clients if c[0] == LAPTOP] == [["026f7a720100", GATEWAY_5G]]
        until(5, "the laptop under the gateway's 5 GHz BSS on the page", laptop_moved)
        print("the roam showed %.1f s after meshsim made it" % (time.monotonic() - roamed))
        self.screenshot("ui-default.png")
        self.console_clean()
        Page.passed += 1

    def test_hostile_texts_are_shown_as_text(self):
        from selenium.common.exceptions import NoAlertPresentException
        from selenium.webdriver.common.by import By
        mesh = self.meshes["hostile"]
        self.open(mesh)
        self.mesh_shown(mesh)
        texts = []
        for a in mesh.scenario["agents"]:
            texts += [a["name"], a["model"]] + [b["ssid"] for r in a["radios"] for b in r["bsss"]]
            texts += [a["hkt"][k] for k in ("model", "hostname", "sw_version") if "hkt" in a]
        # The manufacturers show in a device's details.
        for a in mesh.scenario["agents"]:
            self.click('#mesh g[data-mac="%s"]' % compact(a["al_mac"]))
            until(5, "the details of %r" % a["name"],
                  lambda: a.get("manufacturer", "Meshsim") in self.driver.find_element(By.ID, "facts").text)
        def all_shown():
            p = self.driver.execute_script(INJECTION_JS)
            return p if all(t in p["text"] for t in texts) else None
        try:
            page = until(20, "every hostile text on the page", all_shown)
        except AssertionError:
            text = self.driver.execute_script(INJECTION_JS)["text"]
            raise AssertionError("not on the page: %r" % [t for t in texts if t not in text])
        self.assertEqual(page["title"], "ozr mesh")
        self.assertEqual(page["handlers"], [])
        self.assertEqual(page["scripts"], ["/ui/app.js"])
        self.assertEqual({k: page["tags"][k] for k in ("img", "script", "iframe", "style", "b", "svg")},
                         {"img": 0, "script": 1, "iframe": 0, "style": 0, "b": 0, "svg": 1})
        self.assertTrue(self.driver.find_element(By.ID, "mesh").is_displayed())
        with self.assertRaises(NoAlertPresentException):
            self.driver.switch_to.alert.text
        self.screenshot("ui-hostile.png")
        self.console_clean()
        Page.passed += 1


def missing():
    """Why the test cannot run here, or None."""
    global CHROMIUM, CHROMEDRIVER
    CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
    CHROMEDRIVER = shutil.which("chromedriver")
    if not CHROMIUM or not CHROMEDRIVER:
        return "no chromium or chromedriver (Debian's chromium and chromium-driver; scripts/setup.sh installs them)"
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "no selenium for %s (Debian's python3-selenium; scripts/setup.sh installs it)" % sys.executable
    for p in (os.path.join(BUILD, "src", "main", "ozr"), os.path.join(BUILD, "tools", "meshsim", "meshsim")):
        if not os.access(p, os.X_OK):
            return "%s is not built (OZR_BUILD_DIR=%s)" % (p, BUILD)
    return None


if __name__ == "__main__":
    why = missing()
    if why:
        print("SKIPPED: " + why)
        sys.exit(SKIP)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
