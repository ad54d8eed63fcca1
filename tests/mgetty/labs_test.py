"""Modem labs side by side, each blind to the others, labs that end when told, and a line that mgetty runs on by its stable name.

usage, as root: python3 tests/mgetty/labs_test.py BUILD_FOLDER
Without root or mgetty it says why and ends with 77, which CTest reports as
a skipped test.
"""
import os
import signal
import subprocess
import sys
import time
import unittest

from lab import LAB, README_EXPECTED, SOURCE, missing_in_order, readme_example, skip_unless_lab_can_run

BUILD = os.path.realpath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(SOURCE, "build")
PROGRAM = os.path.join(BUILD, "mgetty", "ringwarden")
TIMEOUT = 180


def in_lab(script, *options, **popen):
    """Runs the script in a lab of its own, whose folder is the first line of its output."""
    return subprocess.Popen([LAB, *options, "bash", "-e", "-c", 'echo "$SUPRV_ROOT"\n' + script], cwd=SOURCE,
                            text=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **popen)


def processes():
    """Every process: its number, parent, start time and process namespace."""
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            yield int(entry), int(fields[1]), fields[19], os.readlink(f"/proc/{entry}/ns/pid")
        except (OSError, IndexError):
            pass


def lab_left(lab):
    """What is left of a lab: those of its processes still alive, and anything in its process namespace."""
    table = list(processes())
    namespaces = {namespace for _, _, namespace in lab} - {os.readlink("/proc/self/ns/pid")}
    return [number for number, _, start, namespace in table
            if (number, start) in {(member, begun) for member, begun, _ in lab} or namespace in namespaces]


def below(pid):
    """The processes below pid, each as its number, start time and process namespace."""
    table = list(processes())
    found = {pid}
    while more := {number for number, parent, _, _ in table if parent in found} - found:
        found |= more
    return [(number, start, namespace) for number, _, start, namespace in table if number in found - {pid}]


class Labs(unittest.TestCase):
    def test_labs_side_by_side_never_see_each_other(self):
        # One lab holds a call on its ttyS0 while two others run the README's example on theirs.
        holder = in_lab(f"scripts/modem-lab call ttyS0 zed; echo held; read; {PROGRAM} showstatus ttyS0",
                        stdin=subprocess.PIPE)
        folders = [holder.stdout.readline().strip()]
        self.assertEqual(holder.stdout.readline().strip(), "ok zed logged in")
        self.assertEqual(holder.stdout.readline().strip(), "held")
        examples = [in_lab(readme_example(BUILD), stdin=subprocess.DEVNULL) for _ in range(2)]
        for example in examples:
            output = example.communicate(timeout=TIMEOUT)[0]
            self.assertEqual(example.returncode, 0, output)
            self.assertIsNone(missing_in_order(output, README_EXPECTED), output)
            folders.append(output.split("\n", 1)[0])
        output = holder.communicate("\n", timeout=TIMEOUT)[0]
        self.assertIsNone(missing_in_order(output, ("Status:\tConnected", "User logged in:\tzed")), output)
        self.assertEqual([folder for folder in folders if os.path.exists(folder)], [])

    def test_a_lab_whose_starter_is_told_to_end_or_killed_leaves_nothing(self):
        for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGKILL):
            with self.subTest(signal=signum.name):
                lab = in_lab("scripts/modem-lab call ttyS0 zed; sleep 60", stdin=subprocess.DEVNULL,
                             start_new_session=True)
                folder = lab.stdout.readline().strip()
                self.assertEqual(lab.stdout.readline().strip(), "ok zed logged in")
                lab_processes = below(lab.pid)
                lab.send_signal(signum)
                lab.wait(TIMEOUT)
                lab.stdout.close()
                deadline = time.monotonic() + 10
                while (lab_left(lab_processes) or os.path.exists(folder)) and time.monotonic() < deadline:
                    time.sleep(0.2)
                self.assertEqual((lab_left(lab_processes), os.path.exists(folder)), ([], False))

    def test_a_line_by_its_stable_name_uses_mgettys_names_for_its_files(self):
        name = "serial-by-id-usb-Lab_Modem-if00"
        # A "-" starts a switch: the name needs double quotes of its own.
        quoted = f"'\"{name}\"'"
        script = f"""
            {BUILD}/mgetty/check_ringwarden
            {PROGRAM} showstatus {quoted}
            scripts/modem-lab answer {name}
            ls "$SUPRV_ROOT/var/lock"
            scripts/modem-lab call {name} alice
            {PROGRAM} showstatus {quoted}
            {PROGRAM} disconnectuser {quoted} >/dev/null
            {PROGRAM} stopserver {quoted} >/dev/null
            ls "$SUPRV_ROOT/etc" | grep nologin
            scripts/modem-lab ring {name}
            {PROGRAM} startserver {quoted} >/dev/null
            scripts/modem-lab ring {name}
            """
        example = in_lab(script, "--by-id", stdin=subprocess.DEVNULL)
        output = example.communicate(timeout=TIMEOUT)[0]
        self.assertEqual(example.returncode, 0, output)
        expected = ("RINGWARDEN OK - 2 of 2 active lines free", f'device 1:\t"{name}"', "Status:\tMonitoring", "ok picked up", "LCK..serial_by-id_usb-Lab_Modem-if00",
                    "ok alice logged in", "Status:\tConnected", "User logged in:\talice", f"nologin.{name}",
                    "ok not picked up", "ok picked up")
        self.assertIsNone(missing_in_order(output, expected), output)

    def test_a_long_call_dates_from_its_login_record(self):
        script = f"""
            date +%s
            scripts/modem-lab call ttyS0 zed
            sleep 2
            {BUILD}/mgetty/check_ringwarden -w 0: --call-warning=1 || echo "exit status $?"
            {BUILD}/mgetty/check_ringwarden --prometheus | grep '^ringwarden_line_call_start_time_seconds'
            date +%s
            """
        example = in_lab(script, stdin=subprocess.DEVNULL)
        output = example.communicate(timeout=TIMEOUT)[0]
        self.assertEqual(example.returncode, 0, output)
        self.assertIsNone(missing_in_order(output, ("RINGWARDEN WARNING - long call on ttyS0 up ", "ttyS0: Connected, user zed, call up",
                                                    "exit status 1", 'ringwarden_line_call_start_time_seconds{line="ttyS0"} ')), output)
        lines = output.split("\n")
        start = int(next(line for line in lines if line.startswith("ringwarden_line_call_start")).split()[-1])
        # The lab's folder comes first; the two clock readings are the lines of digits alone.
        before, after = [int(line) for line in lines if line.isdigit()]
        self.assertLessEqual(before, start, output)
        self.assertLessEqual(start, after - 2, output)

if __name__ == "__main__":
    skip_unless_lab_can_run()
    unittest.main(argv=sys.argv[:1])
