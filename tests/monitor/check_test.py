"""check_ringwarden end to end: its output against the monitoring plugins' grammar on the simulator and on made-up mgetty servers, and its metrics through promtool and a real node_exporter.

usage: python3 tests/monitor/check_test.py BUILD_FOLDER [Plugin|Metrics]
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build")
STATES = {"OK": 0, "WARNING": 1, "CRITICAL": 2, "UNKNOWN": 3}
FIRST_LINE = re.compile(r"RINGWARDEN (OK|WARNING|CRITICAL|UNKNOWN) - ([^|]+?)(?: \| (.+))?")
RANGE = r"(@?(~|-?\d+(\.\d+)?)?:?(-?\d+(\.\d+)?)?)?"
PERF_ITEM = re.compile(rf"[a-z]+=\d+;{RANGE};{RANGE};0(;\d+)?")
# A supervisor that fails is never de-initialised, so the sanitizers' build
# of the simulator leaves what it holds unfreed: not the plugin's leak.
LIBRARY_LEAKS = {"ASAN_OPTIONS": "detect_leaks=0"}
LABELS = {"lines", "active", "monitoring", "answering", "connected", "failed", "free"}
# A made-up server has no process table of its own: the system's would show
# other servers' mgettys, such as the modem labs'. So its lines are Idle
# where stopped, else Monitoring failed.
MGETTY = {"etc/mgetty/mgetty.config": "port ttyS0\nport ttyS1\n", "dev/ttyS0": "-> /dev/null",
          "dev/ttyS1": "-> /dev/zero", "etc/nologin.ttyS1": ""}
STOPPED = {"etc/nologin.ttyS0": ""}
DEAD_LINE = {"etc/mgetty/mgetty.config": "port ttyS0\nport ttyS1\nport ttyS2\n", "dev/ttyS2": "-> /dev/full"}


def lay_out(root, files):
    for path, content in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        if content.startswith("-> "):
            os.symlink(content[3:], full)
        elif content == "<folder>":
            os.mkdir(full)
        else:
            with open(full, "w") as file:
                file.write(content)


class Run(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder)
        os.environ["SUPRV_STATE"] = os.path.join(self.folder, "suprv.state")

    def suprvctl(self, *words):
        subprocess.run([os.path.join(BUILD, "suprvctl"), *words], check=True, stdout=subprocess.DEVNULL)

    def plugin(self, args, program=None, env=None):
        run = subprocess.run([program or os.path.join(BUILD, "check_ringwarden"), *args], capture_output=True,
                             text=True, timeout=30, env={**os.environ, **(env or {})})
        return run.returncode, run.stdout


class Plugin(Run):
    def assert_grammar(self, code, output):
        lines = output.split("\n")
        self.assertEqual(lines[-1], "", "every line ends with a line feed")
        first = FIRST_LINE.fullmatch(lines[0])
        self.assertIsNotNone(first, lines[0])
        self.assertEqual(code, STATES[first[1]])
        if first[1] == "UNKNOWN":
            self.assertEqual(len(lines), 2, "UNKNOWN is one line, its reason on it")
            return first, []
        items = first[3].split(" ")
        for item in items:
            self.assertRegex(item, PERF_ITEM)
        self.assertEqual({item.split("=")[0] for item in items}, LABELS)
        return first, lines[1:-1]

    def test_states_and_grammar(self):
        alone = os.path.join(self.folder, "alone")
        os.mkdir(alone)
        shutil.copy(os.path.join(BUILD, "check_ringwarden"), alone)
        programs = {"alone": os.path.join(alone, "check_ringwarden"), "mgetty": os.path.join(BUILD, "mgetty", "check_ringwarden")}
        # Set-up, arguments, the state, the lines named at fault (or the
        # reason of UNKNOWN); a set-up is suprvctl's words on the simulator,
        # a made-up mgetty server, or "alone": the plugin without a library.
        cases = [
            ([], [], "OK", []),
            ([["set", "Modem1", "status", "MonitoringFailed"]], [], "CRITICAL", ["Modem1: Monitoring failed", "Modem2", "ISDN1", "Cable1"]),
            ([["call", "Modem1", "bob"]], [], "WARNING", ["Modem1: Connected, user bob", "Modem2", "ISDN1", "Cable1"]),
            ([["call", "Modem1", "bob"]], ["-w", "0:", "-c", "@0"], "CRITICAL", ["Modem1", "Modem2", "ISDN1", "Cable1"]),
            ([["call", "Modem1", "bob"]], ["-w", "~:5"], "OK", []),
            ([], ["--line", "modem1", "-l", "MODEM2", "-T", "modem"], "OK", []),
            ([], ["-l", "ISDN1"], "WARNING", ["ISDN1: Idle, server stopped"]),
            ([], ["-l", "Modem3"], "UNKNOWN", ['no line named "Modem3"']),
            ([], ["-T", "fax"], "UNKNOWN", ['no line of type "fax"']),
            ([["fault", "initialize", "5"]], [], "UNKNOWN", ["Cannot initialize", "Error N 5"]),
            ([["fault", "crash", "SuprvRequest", "divide"]], [], "UNKNOWN", ["Divide by zero"]),
            ([], ["-w", "5:1"], "UNKNOWN", ['bad range for -w: "5:1"']),
            ([], ["--bogus"], "UNKNOWN", ["unknown option --bogus"]),
            ([], ["-t", "0"], "UNKNOWN", ["bad timeout"]),
            ("alone", [], "UNKNOWN", ['Cannot load library: "rasapi32.dll"']),
            ({**MGETTY, **STOPPED}, [], "WARNING", ["ttyS0: Idle, server stopped", "ttyS1: Idle, server stopped"]),
            (MGETTY, [], "CRITICAL", ["ttyS0: Monitoring failed", "ttyS1: Idle"]),
            ({**MGETTY, **DEAD_LINE}, [], "CRITICAL", ["ttyS0", "ttyS1", "ttyS2"]),
            ({"etc/mgetty/mgetty.config": "<folder>"}, [], "UNKNOWN", ["Error N 5"]),
        ]
        for setup, args, state, named in cases:
            with self.subTest(setup=setup, args=args):
                env = {}
                program = programs.get("mgetty" if isinstance(setup, dict) else setup if isinstance(setup, str) else "")
                if isinstance(setup, dict):
                    env["SUPRV_ROOT"] = tempfile.mkdtemp(dir=self.folder)
                    lay_out(env["SUPRV_ROOT"], setup)
                else:
                    self.suprvctl("init")
                    self.suprvctl("fault", "clear")
                    for words in setup if isinstance(setup, list) else []:
                        self.suprvctl(*words)
                        env.update(LIBRARY_LEAKS if words[0] == "fault" else {})
                code, output = self.plugin(args, program, env)
                first, further = self.assert_grammar(code, output)
                self.assertEqual(first[1], state, output)
                if state == "UNKNOWN":
                    for text in named:
                        self.assertIn(text, first[2])
                    continue
                self.assertEqual(len(further), len(named), output)
                for line, text in zip(further, named):
                    self.assertTrue(line.startswith(text), output)
                if state == "CRITICAL" and "-c" not in args:
                    self.assertIn(f"Monitoring failed on {named[0].split(':')[0]}", first[2])


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Metrics(Run):
    def test_textfile_reaches_node_exporter(self):
        self.suprvctl("init")
        self.suprvctl("set", "ISDN1", "status", "CallingBack")
        textfile = os.path.join(self.folder, "ringwarden.prom")
        self.assertEqual(self.plugin(["--prometheus", "--output", textfile])[0], 0)
        self.assertEqual(os.listdir(self.folder).count("ringwarden.prom"), 1)
        with open(textfile) as file:
            check = subprocess.run(["promtool", "check", "metrics"], stdin=file, capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stdout, check.stderr), (0, "", ""))

        address = f"127.0.0.1:{free_port()}"
        exporter = subprocess.Popen(["prometheus-node-exporter", f"--web.listen-address={address}",
                                     "--collector.disable-defaults", "--collector.textfile",
                                     f"--collector.textfile.directory={self.folder}"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(exporter.wait, 10)
        self.addCleanup(exporter.terminate)
        metrics = ""
        for _ in range(100):
            try:
                metrics = urllib.request.urlopen(f"http://{address}/metrics", timeout=5).read().decode()
                break
            except OSError:
                time.sleep(0.1)
        self.assertIn("node_textfile_scrape_error 0", metrics)
        expected = {"Modem1": "monitoring", "Modem2": "connected", "ISDN1": "calling_back", "Cable1": "idle"}
        for line, status in expected.items():
            self.assertIn(f'ringwarden_line_status{{line="{line}",status="{status}"}} 1', metrics)
        self.assertIn('ringwarden_line_user_info{line="Modem2",user="guest"} 1', metrics)
        self.assertIn("ringwarden_reading_success 1", metrics)

        # A reading that fails replaces the file with one that says so, whole.
        self.suprvctl("fault", "enumerate")
        self.assertEqual(self.plugin(["--prometheus", "--output", textfile], env=LIBRARY_LEAKS)[0], 3)
        with open(textfile) as file:
            self.assertEqual(file.read().splitlines()[-1], "ringwarden_reading_success 0")
        self.assertEqual([name for name in os.listdir(self.folder) if name.startswith("ringwarden.prom.")], [])


if __name__ == "__main__":
    missing = [tool for tool in ("promtool", "prometheus-node-exporter") if shutil.which(tool) is None]
    if "Metrics" in sys.argv and missing:
        print(f"skipped: no {' or '.join(missing)} (Debian: apt-get install prometheus prometheus-node-exporter)")
        sys.exit(77)
    unittest.main()
