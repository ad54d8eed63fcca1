"""What the tests over real mgetty share: the lab's command, and the README's worked example with what it must print."""
import os
import shutil
import subprocess
import sys

SOURCE = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
LAB = os.path.join(SOURCE, "scripts", "modem-lab")
# What the README's example prints, in this order.
README_EXPECTED = ("Status:\tMonitoring", "Status:\tConnected", "User logged in:\talice", "ok not picked up",
                   "Dial-up server active", "Status:\tMonitoring")


def lab(*words):
    return subprocess.run([LAB, *words], capture_output=True, text=True, timeout=120).stdout.strip()


def readme_example(build):
    """The README's worked example as a script for the build folder given."""
    with open(os.path.join(SOURCE, "README.md")) as readme:
        section = readme.read().split("## Managing a real Linux dial-in server")[1]
    example = section.split("    sudo scripts/modem-lab ")[1].split("\n    exit\n")[0].split("\n")[1:]
    return "\n".join(line[4:].replace("./build/", build + "/") for line in example)


def missing_in_order(output, expected):
    """The first text of `expected` not found in `output` after the ones before it, or None."""
    at = 0
    for text in expected:
        at = output.find(text, at) + 1
        if at == 0:
            return text
    return None


def skip_unless_lab_can_run():
    """Ends the test as skipped (77) where the lab cannot run."""
    reason = ("need root" if os.geteuid() != 0 else
              "need mgetty (apt-get install mgetty)" if not shutil.which("mgetty", path="/sbin:/usr/sbin") else "")
    if reason:
        print(f"SKIPPED: the tests over real mgetty {reason}")
        sys.exit(77)
