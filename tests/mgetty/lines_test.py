"""The supervisor over mgetty with real mgetty on the lab's scripted modems, and the program end to end against it.

usage, as root: python3 tests/mgetty/lines_test.py BUILD_FOLDER
It runs itself inside scripts/modem-lab. Without root or mgetty it says why
and ends with 77, which CTest reports as a skipped test.
"""
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from lab import LAB, README_EXPECTED, SOURCE, lab, missing_in_order, readme_example, skip_unless_lab_can_run
from supervisor import Supervisor

UTMP = struct.Struct("<hxxi32s4s32s256shhiii4i20s")

BUILD = os.path.realpath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(SOURCE, "build")
PROGRAM = os.path.join(BUILD, "mgetty", "ringwarden")


def block(number, name, comment, kind, server, status, user=""):
    lines = [f'device {number}:\t"{name}"', f"\tComment: {comment}", "", f"\tDevice type:\t{kind}",
             f"\tServer type:\t{server}", "\tDial-up server active", f"\tStatus:\t{status}"]
    return "\r\n".join(lines + ([f"\tUser logged in:\t{user}"] if user else []) + ["", ""])


# A caller's job, started from the shell in the background: it ignores SIGHUP
# and SIGTERM, and forks every 2 ms (each parent ending), or keeps reopening the
# line, from the call's session or from one of its own.
JOB = """
import os, signal, sys, time
how = sys.argv[1]
for signum in (signal.SIGHUP, signal.SIGTERM):
    signal.signal(signum, signal.SIG_IGN)
if how.startswith("detached"):
    for number in range(3):
        os.dup2(os.open("/dev/null", os.O_RDWR), number)
    # As setsid(1) does: a group's leader cannot start a session.
    if os.fork() != 0:
        os._exit(0)
    os.setsid()
open(f"{sys.argv[0]}.{how}", "w").close()  # Ready.
held = None
while True:
    time.sleep(0.002)
    if how == "forks" and os.fork() != 0:
        os._exit(0)
    if how.endswith("reopens"):
        try:
            held, old = os.open("/dev/ttyS0", os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK), held
            old is None or os.close(old)
        except OSError:
            pass
"""


def tagged(*arguments):
    """The processes whose command line holds these arguments."""
    tag, found = "\0".join(arguments) + "\0", []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                found += [int(entry)] if tag.encode() in cmdline.read() else []
        except OSError:
            pass
    return found


def holding(device):
    """The names of the processes that hold the device open."""
    rdev, names = os.stat(device).st_rdev, []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            folder = f"/proc/{entry}/fd"
            if any(os.stat(os.path.join(folder, fd)).st_rdev == rdev for fd in os.listdir(folder)):
                with open(f"/proc/{entry}/comm") as comm:
                    names.append(comm.read().strip())
        except OSError:
            pass
    return names


MODEM = ("ttyS0", "The modem on the desk, for terminal callers", "modem", "TERM")
ISDN = ("ttyI0", "ISDN adapter; PPP callers go to pppd", "isdn", "PPP")


class Lines(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = os.environ["SUPRV_ROOT"]
        cls.supervisor = Supervisor(os.path.join(BUILD, "mgetty", "librasapi32.so"), cls.root)

    def until(self, line, status, seconds=15):
        deadline = time.monotonic() + seconds
        while self.supervisor.status(line) != status and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(self.supervisor.status(line), status)

    def nologin(self, line):
        return os.path.exists(os.path.join(self.root, "etc", "nologin." + line))

    def test_a_call_walks_through_the_statuses_and_the_nologin_file_switches_answering(self):
        supervisor = self.supervisor
        self.until("ttyS0", "Monitoring")
        self.assertEqual(lab("answer", "ttyS0"), "ok picked up")
        self.assertEqual(supervisor.status("ttyS0"), "Answering")
        self.assertEqual(lab("call", "ttyS0", "alice"), "ok alice logged in")
        self.assertEqual((supervisor.status("ttyS0"), supervisor.user("ttyS0")), ("Connected", "alice"))
        self.assertEqual(supervisor.disconnect("ttyS0"), 0)
        self.until("ttyS0", "Monitoring")
        self.assertEqual(supervisor.user("ttyS0"), "")
        self.assertEqual((supervisor.set_enabled("ttyS0", False), self.nologin("ttyS0")), (0, True))
        self.assertEqual((supervisor.status("ttyS0"), supervisor.fields("ttyS0")[1]), ("Idle", False))
        self.assertEqual(lab("ring", "ttyS0"), "ok not picked up")
        self.assertEqual((supervisor.set_enabled("ttyS0", True), self.nologin("ttyS0")), (0, False))
        self.assertEqual(lab("ring", "ttyS0"), "ok picked up")
        self.until("ttyS0", "Monitoring")

    def test_nothing_of_the_call_outlasts_its_hang_up(self):
        job = os.path.join(self.root, "job.py")
        with open(job, "w") as file:
            file.write(JOB)
        # How the job runs, and whether it outlives the hang-up: a job
        # detached into a session of its own that holds no line is no
        # longer the call's.
        cases = [("forks", False), ("reopens", False), ("detached-reopens", False), ("detached", True)]
        for how, outlives in cases:
            with self.subTest(job=how):
                self.until("ttyS0", "Monitoring")
                self.assertEqual(lab("call", "ttyS0", "mallory"), "ok mallory logged in")
                tag = (job, how)
                self.assertEqual(lab("type", "ttyS0", sys.executable, *tag, "&"), "ok typed")
                deadline = time.monotonic() + 20
                while not os.path.exists(f"{job}.{how}") and time.monotonic() < deadline:
                    time.sleep(0.05)
                time.sleep(0.1)
                self.assertEqual(self.supervisor.disconnect("ttyS0"), 0)
                left = tagged(*tag)
                for pid in left:
                    os.kill(pid, signal.SIGKILL)
                self.assertEqual((bool(left), set(holding("/dev/ttyS0")) - {"mgetty"}), (outlives, set()))

    def test_a_ppp_caller_shows_as_its_peer_until_hung_up(self):
        self.assertEqual(lab("ppp", "ttyI0", "carol"), "ok carol logged in")
        self.assertEqual((self.supervisor.status("ttyI0"), self.supervisor.user("ttyI0")), ("Connected", "carol"))
        # The stand-in for pppd logs the peer out and takes a moment to end
        # the link; the disconnect waits for it.
        disconnect = subprocess.Popen([PROGRAM, "disconnectuser", "ttyI0"], stdout=subprocess.DEVNULL,
                                      stdin=subprocess.DEVNULL)
        self.until("ttyI0", "Hanging up", 2.5)
        self.assertEqual(disconnect.wait(30), 0)
        self.until("ttyI0", "Monitoring")

    def test_an_answering_line_is_hung_up_and_answers_again(self):
        self.assertEqual(lab("answer", "ttyS0"), "ok picked up")
        self.assertEqual(self.supervisor.status("ttyS0"), "Answering")
        self.assertEqual(self.supervisor.disconnect("ttyS0"), 0)
        self.until("ttyS0", "Monitoring")
        self.assertEqual(lab("ring", "ttyS0"), "ok picked up")
        self.until("ttyS0", "Monitoring")

    def test_a_caller_who_drops_carrier_leaves_the_line_monitoring(self):
        self.assertEqual(lab("call", "ttyS0", "bob"), "ok bob logged in")
        self.assertEqual(lab("drop", "ttyS0"), "ok dropped")
        self.until("ttyS0", "Monitoring")
        self.assertEqual(self.supervisor.user("ttyS0"), "")

    def test_a_stop_on_a_read_only_etc_is_refused(self):
        etc = os.path.join(self.root, "etc")
        subprocess.run(["mount", "--bind", etc, etc], check=True)
        self.addCleanup(subprocess.run, ["umount", etc], check=True)
        subprocess.run(["mount", "-o", "remount,bind,ro", etc], check=True)
        self.assertEqual(self.supervisor.set_enabled("ttyS0", False), 5)
        self.assertFalse(self.nologin("ttyS0"))
        self.assertEqual(self.supervisor.status("ttyS0"), "Monitoring")

    def test_the_program_shows_selects_filters_stops_and_starts(self):
        lab("call", "ttyI0", "dave")
        self.addCleanup(self.supervisor.disconnect, "ttyI0")
        modem, isdn = block(1, *MODEM, "Monitoring"), block(2, *ISDN, "Connected", "dave")
        cases = [(["showstatus"], "Device status list:\r\n" + modem + isdn),
                 (["/T:isdn"], "Device status list:\r\n" + isdn),
                 (["/N:2"], "Device status list:\r\n" + isdn),
                 (["showstatus", "TTYS0"], "Device status list:\r\n" + modem),
                 (["showstatus", "ttyS9", "/N:3"],
                  'Device status list:\r\nDevice "ttyS9" not found\r\nWrong device number: 3\r\n'),
                 (["stopserver", "ttyI0"], 'Stop dial-up server on the following device(s):\r\ndevice 2:\t"ttyI0"\r\n'),
                 (["startserver", "/N:2"], 'Start dial-up server on the following device(s):\r\ndevice 2:\t"ttyI0"\r\n')]
        for arguments, expected in cases:
            with self.subTest(arguments=arguments):
                output = subprocess.run([PROGRAM, *arguments], capture_output=True, stdin=subprocess.DEVNULL,
                                        timeout=30).stdout.decode()
                # From the list header on: the banner comes before it.
                self.assertEqual(output[output.find(expected.split("\r\n")[0]):], expected)
                self.assertEqual(self.nologin("ttyI0"), arguments[0] == "stopserver")

    def test_the_readme_example_runs_as_written(self):
        script = readme_example(BUILD)
        self.assertGreaterEqual(script.count("ringwarden"), 6)
        run = subprocess.run(["bash", "-e", "-c", script], cwd=SOURCE, capture_output=True, text=True,
                             stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIsNone(missing_in_order(run.stdout, README_EXPECTED), run.stdout)


LOCK = "var/lock/LCK..ttyX0"


class Guards(unittest.TestCase):
    """A made-up server root whose process table is the lab's own, and one line, ttyX0, on a pseudo-terminal.

    Stand-ins take the place of mgetty, a getty, a caller and a dial-out
    program: each is a real process with the name it stands for, on the line
    as the real one would be.
    """

    def lay_out(self):
        self.root = tempfile.mkdtemp()
        os.chmod(self.root, 0o755)  # Open to the stand-ins that run as another user.
        self.addCleanup(shutil.rmtree, self.root)
        for folder in ("etc/mgetty", "var/lock", "var/run", "run", "dev", "bin"):
            os.makedirs(os.path.join(self.root, folder))
        with open(os.path.join(self.root, "etc/mgetty/mgetty.config"), "w") as config:
            config.write("port ttyX0\n")
        open(os.path.join(self.root, "var/run/utmp"), "w").close()
        os.symlink("/proc", os.path.join(self.root, "proc"))
        self.master, slave = os.openpty()
        self.addCleanup(os.close, self.master)
        self.tty = os.ttyname(slave)
        os.close(slave)
        os.symlink(self.tty, os.path.join(self.root, "dev/ttyX0"))
        python = os.path.realpath("/usr/bin/python3")
        for name, target in (("mgetty", python), ("login", python), ("agetty", "/bin/sleep"), ("cu", "/bin/sleep"),
                             ("sh", "/bin/sleep")):
            os.symlink(target, os.path.join(self.root, "bin", name))
        self.supervisor = Supervisor(os.path.join(BUILD, "mgetty", "librasapi32.so"), self.root)
        self.processes = {}

    def start(self, name, arguments, on_line=None, ignore_hang_up=False, user=None):
        """Starts a stand-in; on_line is "terminal" (the line is its controlling terminal), "open", or None."""
        def enter():
            # A new session's leader takes the first terminal it opens as its own.
            if on_line:
                os.dup2(os.open(self.tty, os.O_RDWR | (os.O_NOCTTY if on_line == "open" else 0)), 0)
            if ignore_hang_up:
                signal.signal(signal.SIGHUP, signal.SIG_IGN)
            if user is not None:
                os.setgid(user)
                os.setuid(user)
        process = subprocess.Popen([os.path.join(self.root, "bin", name), *arguments], preexec_fn=enter,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(lambda: process.poll() is not None or (process.kill(), process.wait()))
        self.processes[name] = process
        time.sleep(0.2)  # Until it has the line.
        return process.pid

    def lock(self, pid, age=0, through_link=False, owner=0):
        path = os.path.join(self.root, LOCK)
        if through_link:
            os.symlink(os.path.join(self.root, "run/elsewhere"), path)
            path = os.path.join(self.root, "run/elsewhere")
        with open(path, "w") as lock:
            lock.write(f"{pid:10d}\n")
        os.utime(path, (time.time() - age, time.time() - age))
        os.chown(path, owner, -1)

    def log_in(self, pid, user):
        utmp = os.path.join(self.root, "var/run/utmp")
        record = UTMP.pack(7, pid, b"ttyX0", b"X0", user.encode(), b"", 0, 0, 0, int(time.time()), 0, 0, 0, 0, 0, b"")
        with open(utmp, "ab") as file:
            file.write(record)

    def mgetty(self, holding_lock_for=None):
        pid = self.start("mgetty", ["-c", "import time; time.sleep(60)", "ttyX0"], "open")
        if holding_lock_for is not None:
            self.lock(pid, holding_lock_for)

    def test_only_what_holds_the_line_is_a_call_and_only_a_call_is_hung_up(self):
        sleeper = lambda: self.start("cu", ["60"])
        login = "import os, time\nif os.fork() == 0:\n os.setsid(); os.dup2(os.open(%r, os.O_RDWR), 0)\n" \
                " os.execv('/bin/sleep', ['sh', '60'])\nos.wait()"
        cases = {
            # What is on the line: its status and user, then which processes a disconnect ends.
            "a lock naming an unrelated process": (lambda: (self.mgetty(), self.lock(sleeper())),
                                                   "Monitoring", "", []),
            "a lock naming process 1": (lambda: (self.mgetty(), self.lock(1)), "Monitoring", "", []),
            "a lock that is a link": (lambda: (self.mgetty(), self.lock(self.start("cu", ["60"], "open"),
                                                                         through_link=True)), "Monitoring", "", []),
            "a lock another user wrote for root's process": (lambda: (self.mgetty(), self.lock(
                self.start("cu", ["60"], "open"), owner=65534)), "Monitoring", "", []),
            "a call out holding the lock": (lambda: self.lock(self.start("cu", ["60"], "open")), "Connected", "",
                                            ["cu"]),
            "mgetty in its modem's initialisation": (lambda: self.mgetty(holding_lock_for=5), "Monitoring", "", []),
            "mgetty stuck in its initialisation": (lambda: self.mgetty(holding_lock_for=60), "Monitoring failed",
                                                   "", []),
            "agetty waiting for a name": (lambda: self.start("agetty", ["60"], "terminal"), "Monitoring failed", "",
                                          []),
            "a caller's program named agetty": (lambda: self.start("agetty", ["60"], "terminal", user=65534),
                                                 "Connected", "", ["agetty"]),
            "a caller who ignores SIGHUP": (lambda: self.log_in(self.start("sh", ["60"], "terminal", True), "dave"),
                                            "Connected", "dave", ["sh"]),
            "util-linux's login and its child": (lambda: self.log_in(self.start("login", ["-c", login % self.tty]),
                                                                     "erin"), "Connected", "erin", ["login"]),
        }
        for case, (arrange, status, user, ended) in cases.items():
            with self.subTest(case=case):
                self.lay_out()
                arrange()
                time.sleep(0.2)
                self.assertEqual((self.supervisor.status("ttyX0"), self.supervisor.user("ttyX0")), (status, user))
                self.assertEqual(self.supervisor.disconnect("ttyX0"), 0)
                time.sleep(0.2)
                alive = {name for name, process in self.processes.items() if process.poll() is None}
                self.assertEqual(alive, set(self.processes) - set(ended))
                self.doCleanups()


if __name__ == "__main__":
    if "MODEM_LAB" not in os.environ:
        skip_unless_lab_can_run()
        sys.exit(subprocess.call([LAB, sys.executable, os.path.abspath(__file__), BUILD]))
    unittest.main(argv=sys.argv[:1])
