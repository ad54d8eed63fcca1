"""Prints the supervisor library and the program in the order a crash report's frame lines name them.

Names lose "lib" and their extension, so that the reports of both builds
compare; a name on consecutive lines counts once. The first line of another
module ends the order: above the program the systems' own frames differ.
"""
import re
import sys

order = []
for line in open(sys.argv[1], "rb").read().split(b"\r\n"):
    if re.match(rb"[ 0-9a-f]{8,}  ", line):
        module = re.sub(rb"^lib|\.(so|dll|exe)$", b"", line.rpartition(b" \t")[2])
        if module not in (b"rasapi32", b"ringwarden"):
            break
        if order[-1:] != [module]:
            order.append(module)
print(b" ".join(order).decode())
