"""Modem labs side by side, each blind to the others, and a line that mgetty runs on by its stable name under /dev.

usage, as root: python3 tests/mgetty/labs_test.py BUILD_FOLDER
Without root or mgetty it says why and ends with 77, which CTest reports as
a skipped test.
"""
import glob
import os
import subprocess
import sys
import unittest

from lab import LAB, README_EXPECTED, SOURCE, missing_in_order, readme_example, skip_unless_lab_can_run

BUILD = os.path.realpath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(SOURCE, "build")
PROGRAM = os.path.join(BUILD, "mgetty", "ringwarden")
TIMEOUT = 180


def in_lab(script, *options, **popen):
    return subprocess.Popen([LAB, *options, "bash", "-e", "-c", script], cwd=SOURCE, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **popen)


class Labs(unittest.TestCase):
    def test_labs_side_by_side_never_see_each_other(self):
        before = set(glob.glob("/tmp/modem-lab.*"))
        # One lab holds a call on its ttyS0 while two others run the README's example on theirs.
        holder = in_lab(f"scripts/modem-lab call ttyS0 zed; echo held; read; {PROGRAM} showstatus ttyS0",
                        stdin=subprocess.PIPE)
        self.assertEqual(holder.stdout.readline().strip(), "ok zed logged in")
        self.assertEqual(holder.stdout.readline().strip(), "held")
        examples = [in_lab(readme_example(BUILD), stdin=subprocess.DEVNULL) for _ in range(2)]
        for example in examples:
            output = example.communicate(timeout=TIMEOUT)[0]
            self.assertEqual(example.returncode, 0, output)
            self.assertIsNone(missing_in_order(output, README_EXPECTED), output)
        output = holder.communicate("\n", timeout=TIMEOUT)[0]
        self.assertIsNone(missing_in_order(output, ("Status:\tConnected", "User logged in:\tzed")), output)
        self.assertEqual(set(glob.glob("/tmp/modem-lab.*")), before)

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
        self.assertLessEqual(int(lines[0]), start, output)
        self.assertLessEqual(start, int(lines[-2]) - 2, output)

if __name__ == "__main__":
    skip_unless_lab_can_run()
    unittest.main(argv=sys.argv[:1])
