"""check_ringwarden end to end: its output against the monitoring plugins' grammar on the simulator and on made-up mgetty servers, and its metrics through promtool and a real node_exporter.

usage: python3 tests/monitor/check_test.py BUILD_FOLDER [Plugin|Metrics|Rules]
"""
import json
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


FIVE_HOURS_AGO = str(int(time.time()) - 5 * 3600 - 30)


def state_file(devices):
    """A hand-written state file: (name, status, extra field lines) for each device, its server active."""
    blocks = "".join(f"device {name}\n  type modem\n  flags 1\n  status {status}\n{extra}end\n"
                     for name, status, extra in devices)
    return "suprv-state 1 generation \n" + blocks


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
        if first[3] is None:
            self.assertTrue(len(lines) == 2 or lines[1] == "Usage:", "a problem is one line, or the usage follows")
            return first, lines[1:-1]
        self.assertLessEqual(len(f"{first[1]} - {first[2]}") + len("RINGWARDEN "), 100, "the first line stays short")
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
            ([], ["-t", "5:SOON"], "UNKNOWN", ["bad timeout"]),
            ([], ["--bogus"], "UNKNOWN", ["unknown option --bogus", "Usage:", "check_ringwarden -h | -V"]),
            ([], ["-l", "ISDN1", "-T", "modem"], "UNKNOWN", ['"ISDN1" not of type "modem"']),
            ([], ["-l", "ISDN1", "-l", "Modem1", "-l", "Modem3", "-T", "modem"], "UNKNOWN",
             ['no line named "Modem3"; "ISDN1" not of type "modem"']),
            ("fifo", ["-t", "1"], "CRITICAL", ["no answer from the supervisor after 1 s"]),
            ("fifo", ["-t", "1:unknown"], "UNKNOWN", ["no answer from the supervisor after 1 s"]),
            ("corrupt", [], "UNKNOWN", ["Error N 13", "The data are not valid", "suprv.state: corrupt"]),
            ([], ["-v"], "OK", ["Modem1: Monitoring", "Modem2: Connected, user guest", "ISDN1: Idle", "Cable1: Idle"]),
            ([["call", "Modem1", "bob"], ["set", "Modem1", "callstart", FIVE_HOURS_AGO]], ["-w", "0:", "--call-warning", "3600"],
             "WARNING", ["Modem1: Connected, user bob, call up 5h 0m"]),
            ([["call", "Modem1", "bob"], ["set", "Modem1", "callstart", FIVE_HOURS_AGO]], ["-w", "0:", "--call-critical", "18000"],
             "CRITICAL", ["Modem1: Connected, user bob, call up 5h 0m"]),
            ([["call", "Modem1", "bob"]], ["-w", "0:", "--call-warning", "3600"], "OK", []),
            (state_file((f"Line{i:02}", "MonitoringFailed", "") for i in range(64)), [], "CRITICAL",
             [f"Line{i:02}: Monitoring failed" for i in range(64)]),
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
                if isinstance(setup, str) and setup != "alone":
                    # A state file that never opens, one that is no state file, or one written here.
                    env["SUPRV_STATE"] = os.path.join(tempfile.mkdtemp(dir=self.folder), "suprv.state")
                    if setup == "fifo":
                        os.mkfifo(env["SUPRV_STATE"])
                    else:
                        with open(env["SUPRV_STATE"], "w") as file:
                            file.write(setup if setup != "corrupt" else "not a state file\n")
                elif isinstance(setup, dict):
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
                if first[3] is None:
                    for text in named:
                        self.assertIn(text, "\n".join([first[2], *further]))
                    continue
                self.assertEqual(len(further), len(named), output)
                for line, text in zip(further, named):
                    self.assertTrue(line.startswith(text), output)
                if state == "CRITICAL" and "-c" not in args and "--call-critical" not in args:
                    self.assertIn(f"Monitoring failed on {named[0].split(':')[0]}", first[2])
                if named and "call up" in named[0]:
                    self.assertIn("long call on Modem1 up 5h 0m", first[2])

    def test_help_fits_80_columns(self):
        code, output = self.plugin(["-h"])
        self.assertEqual((code, max(len(line) for line in output.split("\n")) <= 80), (3, True), output)

    def test_output_that_cannot_be_written_is_unknown(self):
        self.suprvctl("init")
        for args in [], ["--prometheus"]:
            with open("/dev/full", "w") as full:
                run = subprocess.run([os.path.join(BUILD, "check_ringwarden"), *args], stdout=full, stderr=subprocess.PIPE,
                                     text=True, timeout=30)
            self.assertEqual(run.returncode, 3, args)
            self.assertIn("No space left on device", run.stderr)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Metrics(Run):
    def promtool_passes(self, textfile):
        with open(textfile) as file:
            check = subprocess.run(["promtool", "check", "metrics"], stdin=file, capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stdout, check.stderr), (0, "", ""))

    def scrape(self):
        """What a real node_exporter serves of the textfiles in the test's folder."""
        address = f"127.0.0.1:{free_port()}"
        exporter = subprocess.Popen(["prometheus-node-exporter", f"--web.listen-address={address}",
                                     "--collector.disable-defaults", "--collector.textfile",
                                     f"--collector.textfile.directory={self.folder}"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for _ in range(100):
                try:
                    return urllib.request.urlopen(f"http://{address}/metrics", timeout=5).read().decode()
                except OSError:
                    time.sleep(0.1)
            return ""
        finally:
            exporter.terminate()
            exporter.wait(10)

    def test_textfile_reaches_node_exporter(self):
        self.suprvctl("init")
        self.suprvctl("set", "ISDN1", "status", "CallingBack")
        self.suprvctl("set", "Modem2", "callstart", "1700000000")
        textfile = os.path.join(self.folder, "ringwarden.prom")
        self.assertEqual(self.plugin(["--prometheus", "--output", textfile])[0], 0)
        self.assertEqual(os.listdir(self.folder).count("ringwarden.prom"), 1)
        self.promtool_passes(textfile)

        metrics = self.scrape()
        self.assertIn("node_textfile_scrape_error 0", metrics)
        expected = {"Modem1": "monitoring", "Modem2": "connected", "ISDN1": "calling_back", "Cable1": "idle"}
        for line, status in expected.items():
            self.assertIn(f'ringwarden_line_status{{line="{line}",status="{status}"}} 1', metrics)
        self.assertIn('ringwarden_line_user_info{line="Modem2",user="guest"} 1', metrics)
        self.assertIn('ringwarden_line_call_start_time_seconds{line="Modem2"} 1.7e+09', metrics)
        self.assertIn("ringwarden_reading_success 1", metrics)

        # A reading that fails replaces the file with one that says so, whole,
        # and the temporary file a killed run left behind goes.
        dead = subprocess.Popen(["true"])
        dead.wait()
        open(f"{textfile}.{dead.pid}.tmp", "w").close()
        self.suprvctl("fault", "enumerate")
        self.assertEqual(self.plugin(["--prometheus", "--output", textfile], env=LIBRARY_LEAKS)[0], 3)
        with open(textfile) as file:
            self.assertEqual(file.read().splitlines()[-1], "ringwarden_reading_success 0")
        self.assertEqual([name for name in os.listdir(self.folder) if name.startswith("ringwarden.prom.")], [])

    def test_names_in_a_code_page_stay_apart(self):
        state = os.path.join(self.folder, "odd.state")
        with open(state, "w") as file:
            file.write(state_file([("Lat\\xe9n", "Monitoring", ""), ("Lat\\xe8n", "MonitoringFailed", ""),
                                   ("Lat\\xc3\\xa9n", "Idle", "")]))
        textfile = os.path.join(self.folder, "ringwarden.prom")
        self.assertEqual(self.plugin(["--prometheus", "--output", textfile], env={"SUPRV_STATE": state})[0], 0)
        self.promtool_passes(textfile)
        metrics = self.scrape()
        self.assertIn("node_textfile_scrape_error 0", metrics)
        for labels in ['line="Lat\u00e9n",line_encoding="windows-1252"', 'line="Lat\u00e8n",line_encoding="windows-1252"',
                       'line="Lat\u00e9n",line_encoding=""']:
            self.assertEqual(len(re.findall(f"ringwarden_line_server_active{{{labels}}} 1", metrics)), 1, metrics)


class Rules(unittest.TestCase):
    """promtool test rules over the shipped rules, five hours of a server that is healthy but for one thing."""
    LINE = 'line="Modem{}"'
    HEALTHY = {
        "ringwarden_reading_success": "1x300",
        'node_textfile_mtime_seconds{file="/var/lib/prometheus/node-exporter/ringwarden.prom"}': "0+60x300",
        'ringwarden_line_server_active{line="Modem1"}': "1x300",
        'ringwarden_line_server_active{line="Modem2"}': "1x300",
        'ringwarden_line_status{line="Modem1",status="monitoring"}': "1x300",
        'ringwarden_line_status{line="Modem1",status="monitoring_failed"}': "0x300",
        'ringwarden_line_status{line="Modem2",status="monitoring"}': "0x300",
        'ringwarden_line_call_start_time_seconds{line="Modem2"}': "10800x300",
    }
    # What changes from the healthy server, and the alerts that fire then, with their own labels.
    CASES = [
        ({}, {}),
        ({"ringwarden_reading_success": "0x300"}, {"RingwardenReadingFailed": {}}),
        ({'node_textfile_mtime_seconds{file="/var/lib/prometheus/node-exporter/ringwarden.prom"}': "0x300"},
         {"RingwardenTextfileStale": {"file": "/var/lib/prometheus/node-exporter/ringwarden.prom"}}),
        ({'ringwarden_line_status{line="Modem1",status="monitoring"}': "0x300",
          'ringwarden_line_status{line="Modem1",status="monitoring_failed"}': "1x300"},
         {"RingwardenLineFailed": {"line": "Modem1", "status": "monitoring_failed"}, "RingwardenNoFreeLine": {}}),
        ({'ringwarden_line_server_active{line="Modem1"}': "0x300"}, {"RingwardenNoFreeLine": {}}),
        ({'ringwarden_line_call_start_time_seconds{line="Modem2"}': "0x300"}, {"RingwardenLongCall": {"line": "Modem2"}}),
    ]
    SEVERITY = {"RingwardenTextfileStale": "warning", "RingwardenNoFreeLine": "warning", "RingwardenLongCall": "warning"}

    def test_rules_fire_for_each_fault_and_stay_quiet_otherwise(self):
        rules = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "monitor", "ringwarden-rules.yml")
        names = ["RingwardenReadingFailed", "RingwardenTextfileStale", "RingwardenLineFailed", "RingwardenNoFreeLine",
                 "RingwardenLongCall"]
        tests = []
        for changes, firing in self.CASES:
            series = [{"series": name, "values": values} for name, values in {**self.HEALTHY, **changes}.items()]
            expected = [{"eval_time": "5h", "alertname": name,
                         "exp_alerts": [{"exp_labels": {**firing[name], "severity": self.SEVERITY.get(name, "critical")}}]
                         if name in firing else []} for name in names]
            tests.append({"interval": "1m", "input_series": series, "alert_rule_test": expected})
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        # promtool compares the annotations too; the test runs a copy without
        # them, as only the expressions are under test.
        with open(rules) as file:
            text = re.sub(r"\n        annotations:\n(          .*\n)+", "\n", file.read())
        with open(os.path.join(folder, "rules.yml"), "w") as file:
            file.write(text)
        # JSON is YAML, and keeps the test free of a YAML library.
        with open(os.path.join(folder, "rules_test.yml"), "w") as file:
            json.dump({"rule_files": ["rules.yml"], "tests": tests}, file)
        for command in ["check", "rules", rules], ["test", "rules", os.path.join(folder, "rules_test.yml")]:
            run = subprocess.run(["promtool", *command], capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)


if __name__ == "__main__":
    missing = [tool for tool in ("promtool", "prometheus-node-exporter") if shutil.which(tool) is None]
    if ("Metrics" in sys.argv or "Rules" in sys.argv) and missing:
        print(f"skipped: no {' or '.join(missing)} (Debian: apt-get install prometheus prometheus-node-exporter)")
        sys.exit(77)
    unittest.main()
