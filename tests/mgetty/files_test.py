"""The supervisor over mgetty on folders made up case by case: which lines, in which order, what their records hold, and what bad input does.

usage: python3 tests/mgetty/files_test.py LIBRARY
"""
import fcntl
import grp
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
import unittest

from supervisor import DISCONNECT, Supervisor

LIBRARY = sys.argv.pop(1) if len(sys.argv) > 1 else "build/mgetty/librasapi32.so"
CONFIG = "etc/mgetty/mgetty.config"
WANTS = "etc/systemd/system/multi-user.target.wants/"
FOLDER, PIPE = "<folder>", "<pipe>"
UTMP = struct.Struct("<hxxi32s4s32s256shhiii4i20s")
USER = 65534


def lay_out(root, files):
    for path, content in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        if content == FOLDER:
            os.mkdir(full)
        elif content == PIPE:
            os.mkfifo(full)
        elif content.startswith("-> "):
            os.symlink(content[3:], full)
        else:
            with open(full, "w") as file:
                file.write(content)


def units(*names):
    return {WANTS + f"mgetty@{name}.service": "-> /lib/systemd/system/mgetty@.service" for name in names}


class Files(unittest.TestCase):
    def supervisor(self, files):
        self.root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.root)
        lay_out(self.root, files)
        return Supervisor(LIBRARY, self.root)

    def test_lines_come_from_the_config_in_its_order_then_the_rest_by_name(self):
        cases = [
            ({CONFIG: "port ttyS1\nport ttyS0\n", "etc/inittab": "S0:2345:respawn:/sbin/mgetty -s 38400 /dev/ttyACM0\n",
              **units("ttyS10", "ttyS2")}, ["ttyS1", "ttyS0", "ttyACM0", "ttyS2", "ttyS10"]),
            ({CONFIG: "port ttyS0\ndebug 4\nport ttyS0\n", **units("ttyS0")}, ["ttyS0"]),
            ({CONFIG: "port\nport /dev/ttyS3\nport a b\nport ../x\nport x/../y\nport -x\nport " + "y" * 129 +
                      "\nport ttyS?\nport ttyS4\n"}, ["ttyS4"]),
            (units("tty\\x2dusb", "serial-by\\x2did-usb\\x2dM", "ttyS1", "-x", "a--b"),
             ["serial-by-id-usb-M", "tty-usb", "ttyS1"]),
            ({"etc/inittab": "a:2:off:/sbin/mgetty ttyS5\nb:2:respawn:/sbin/agetty ttyS6\n"
                             "# c:2:respawn:/sbin/mgetty ttyS8\nc:2:respawn:/sbin/mgetty -n 3 -x 9 -- ttyS7\n"
                             "d:2:respawn:/sbin/vgetty /dev/serial/by-id/usb-M\n"}, ["serial-by-id-usb-M", "ttyS7"]),
            ({CONFIG: "port ttyS0\\\nport ttyS1\nport ttyS2\n"}, ["ttyS2"]),
            ({}, []),
        ]
        for files, names in cases:
            with self.subTest(names=names):
                self.assertEqual(self.supervisor(files).names(), names)

    def test_records_carry_type_comment_and_server_type(self):
        supervisor = self.supervisor({
            CONFIG: "# one\n#\n#  two\tthree\nport ttyS0\nlogin-conf-file nowhere.config\n"
                    "# dropped by the blank line\n\nport ttyS1\n# for every ttyS line\nport ttyS?\n"
                    "# " + "z" * 400 + "\nport ttyI0\n",
            **units("ttyS2", "ttyS22")})
        cases = [("ttyS0", "modem", "one two three"), ("ttyS1", "modem", "for every ttyS line"),
                 ("ttyI0", "isdn", "z" * 307), ("ttyS2", "modem", "for every ttyS line"), ("ttyS22", "modem", "")]
        for name, kind, comment in cases:
            with self.subTest(name=name):
                self.assertEqual(supervisor.fields(name), (kind, True, "TERM", comment))

    def test_autoppp_makes_a_ppp_server_where_mgetty_would_take_the_file(self):
        ppp = "/AutoPPP/ - a_ppp /usr/sbin/pppd auth\n* - - /bin/login @\n"
        # mgetty uses login.config only when root owns it with mode 0600.
        owned = "PPP" if os.geteuid() == 0 else "TERM"
        cases = [(ppp, 0o600, owned), (ppp, 0o644, "TERM"), ("* - - /bin/login @\n" + ppp, 0o600, "TERM"),
                 ("!version 2\n/AutoPPP/ Y - a_ppp /usr/sbin/pppd\n/AutoPPP/ - - a_ppp /usr/sbin/pppd\n", 0o600, owned),
                 ("/AutoPPP/ - a_ppp\n", 0o600, "TERM")]
        for text, mode, expected in cases:
            with self.subTest(text=text, mode=oct(mode)):
                supervisor = self.supervisor({CONFIG: "port ttyS0\n", "etc/mgetty/login.config": text})
                os.chmod(os.path.join(self.root, "etc/mgetty/login.config"), mode)
                self.assertEqual(supervisor.fields("ttyS0")[2], expected)

    def test_huge_and_garbled_configs_read_sanely(self):
        huge = "#" * 3_000_000 + "\nport " + "x" * 100_000 + "\n" + "".join(f"port ttyS{i}\n" for i in range(5000))
        supervisor = self.supervisor({CONFIG: huge + "\x00\xff\x7f garbage \\\nport ttyS0\n"})
        names = supervisor.names()
        self.assertEqual((len(names), names[0], names[-1]), (4096, "ttyS0", "ttyS4095"))

    def test_an_unreadable_config_fails_the_run(self):
        for config, result in ((FOLDER, 5), (PIPE, 13)):
            with self.subTest(config=config):
                self.assertEqual(self.supervisor({CONFIG: config}).names(), result)

    @unittest.skipUnless(os.geteuid() == 0, "only root distrusts a root folder")
    def test_root_takes_no_root_folder_another_user_may_change(self):
        supervisor = self.supervisor({CONFIG: "port ttyS0\n"})
        for mode, owner in ((0o777, 0), (0o775, 65534), (0o700, 65534)):
            with self.subTest(mode=oct(mode), owner=owner):
                os.chmod(self.root, mode)
                os.chown(self.root, owner, owner)
                self.assertEqual(supervisor.names(), 5)
        os.chown(self.root, 0, 0)
        self.assertEqual(supervisor.names(), ["ttyS0"])

    @unittest.skipUnless(os.geteuid() == 0, "only root walks every path")
    def test_root_takes_nothing_another_user_may_change(self):
        # ttyS0 leads to a terminal where another session runs, and its
        # record names alice; ttyS1 to one this process holds, with its lock.
        master, terminal = os.openpty()
        held, line = os.openpty()
        self.addCleanup(lambda: [os.close(handle) for handle in (master, terminal, held, line)])
        sleeper = subprocess.Popen(["sleep", "60"], stdin=terminal, start_new_session=True,
                                   preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        self.addCleanup(sleeper.wait)
        self.addCleanup(sleeper.kill)
        record = UTMP.pack(7, sleeper.pid, b"ttyS0", b"S0", b"alice", b"", 0, 0, 0, 0, 0, 0, 0, 0, 0, b"")
        utmp_group = grp.getgrnam("utmp").gr_gid
        connected = [("Connected", "alice"), ("Connected", "")]
        # What is changed, the lines' statuses and users or the run's error,
        # and the path told as refused.
        cases = [
            ([], connected, None),
            ([("dev", USER, 0o755)], [("Monitoring failed", "")] * 2, "dev"),
            ([("etc", USER, 0o755)], 5, "etc"),
            ([("run", USER, 0o755)], 5, "run"),
            ([("run/utmp", 0, 0o664, USER)], 5, "run/utmp"),
            ([("run/lock", 0, 0o777)], [connected[0], ("Monitoring failed", "")], "run/lock"),
            ([("etc/mgetty", 0, 0o775, USER)], 5, "etc/mgetty"),
            ([("dev/ttyS0", USER)], [("Monitoring failed", "")] + connected[1:], "dev/ttyS0"),
            ([(CONFIG, "-> " + os.ttyname(terminal))], 13, None),
        ]
        for changes, expected, told in cases:
            with self.subTest(changes=changes):
                supervisor = self.supervisor({
                    CONFIG: "port ttyS0\nport ttyS1\n", "dev/ttyS0": "-> " + os.ttyname(terminal),
                    "dev/ttyS1": "-> " + os.ttyname(line), "proc": "-> /proc", "var/run": "-> ../run",
                    "var/lock": "-> ../run/lock", "run/lock/LCK..ttyS1": f"{os.getpid():10d}\n", "run/utmp": ""})
                os.chmod(os.path.join(self.root, "run/lock"), 0o1777)
                with open(os.path.join(self.root, "run/utmp"), "wb") as utmp:
                    utmp.write(record)
                os.chown(os.path.join(self.root, "run/utmp"), 0, utmp_group)
                os.chmod(os.path.join(self.root, "run/utmp"), 0o664)
                for path, *change in changes:
                    full = os.path.join(self.root, path)
                    if isinstance(change[0], str):
                        os.remove(full)
                        lay_out(self.root, {path: change[0]})
                    else:
                        os.lchown(full, change[0], change[2] if len(change) > 2 else -1)
                        if not os.path.islink(full):
                            os.chmod(full, change[1])
                # One run a call: each tells a refused path once.
                calls = [supervisor.names] if isinstance(expected, int) else [
                    lambda name=name, ask=ask: ask(name) for name in ("ttyS0", "ttyS1")
                    for ask in (supervisor.status, supervisor.user)]
                errors, values = zip(*(self.told(call) for call in calls))
                result = values[0] if isinstance(expected, int) else list(zip(values[::2], values[1::2]))
                self.assertEqual(result, expected)
                refused = [f"librasapi32: bad ownership or modes for {kind} {self.root}/{told}\n"
                           for kind in ("directory", "file", "link")] if told else []
                self.assertLessEqual({error for error in errors if error not in refused}, {""})
                self.assertEqual(any(errors), told is not None)
                if isinstance(expected, int):
                    # A run that fails says on what, for the monitoring plugin.
                    self.assertIn(supervisor.described(), [text[len("librasapi32: "):-1] for text in refused] or [""])
                if not isinstance(expected, int) and result[0][0] == "Monitoring failed":
                    self.assertEqual(self.told(lambda: supervisor.disconnect("ttyS0"))[1], 0)
                self.assertIsNone(sleeper.poll())

    def told(self, action):
        """What the library writes on standard error while `action` runs, and its result."""
        with tempfile.TemporaryFile() as capture:
            saved = os.dup(2)
            os.dup2(capture.fileno(), 2)
            try:
                result = action()
            finally:
                os.dup2(saved, 2)
                os.close(saved)
            capture.seek(0)
            return capture.read().decode(), result

    def test_nologin_file_is_the_server_switch(self):
        nologin = "etc/nologin.ttyS0"
        kinds = {"file": os.path.isfile, "folder": os.path.isdir, "link": os.path.islink, None: lambda path: False}
        # What is in the nologin file's place, whether the server counts as
        # enabled, and what stop and then start answer and leave there.
        cases = [(None, True, 0, "file", 0, None), ("stopped", False, 0, "file", 0, None),
                 (FOLDER, False, 0, "folder", 5, "folder"), ("-> nowhere", True, 5, "link", 0, None)]
        for content, enabled, stop, after_stop, start, after_start in cases:
            with self.subTest(content=content):
                supervisor = self.supervisor({CONFIG: "port ttyS0\n", **({nologin: content} if content else {})})
                path = os.path.join(self.root, nologin)
                self.assertEqual(supervisor.fields("ttyS0")[1], enabled)
                self.assertEqual(supervisor.status("ttyS0"), "Monitoring failed" if enabled else "Idle")
                self.assertEqual(supervisor.set_enabled("ttyS0", False), stop)
                self.assertTrue(kinds[after_stop](path))
                self.assertEqual(supervisor.set_enabled("ttyS0", True), start)
                self.assertTrue(kinds[after_start](path) or (after_start is None and not os.path.lexists(path)))

    def test_records_of_no_line_are_refused(self):
        supervisor = self.supervisor({CONFIG: "port ttyS0\n", "dev/ttyS0": "-> ttyS0"})
        self.assertEqual(supervisor.request_on_record(DISCONNECT, b"ttyS9".ljust(512, b"\0")), 55)
        self.assertEqual(supervisor.request_on_record(DISCONNECT, b"t" * 512), 55)
        self.assertEqual(supervisor.request_on_record(99, b"ttyS0".ljust(512, b"\0")), 50)
        self.assertEqual((supervisor.status("ttyS0"), supervisor.user("ttyS0")), ("Monitoring failed", ""))


if __name__ == "__main__":
    unittest.main()
