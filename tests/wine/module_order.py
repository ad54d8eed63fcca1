"""Prints the order in which a crash report's frame lines name the supervisor library and the program.

usage: module_order.py REPORT

The names are taken without "lib" and extension, so that the POSIX build's
report and the Windows build's compare; a name repeated on consecutive lines
counts once. The order ends at the first line of another module or of none:
above the program, the systems' own frames differ.
"""
import re
import sys

OURS = (b"rasapi32", b"ringwarden")


def module_order(report):
    order = []
    for line in report.split(b"\r\n"):
        if not re.match(rb"[ 0-9a-f]{8,}  ", line):
            continue
        before, separator, module = line.rpartition(b" \t")
        module = re.sub(rb"^lib|\.(so|dll|exe)$", b"", module)
        if not separator or module not in OURS:
            break
        if not order or order[-1] != module:
            order.append(module)
    return b" ".join(order).decode()


with open(sys.argv[1], "rb") as report:
    print(module_order(report.read()))
