"""Runs a program on a fresh pseudo-terminal and answers its key prompts.

usage: console_keys.py [--exit CODE] [--output FILE] EXPECTED_PROMPTS COMMAND...

Whenever the output shows one more "Hit any key to continue..." than it had,
one key goes in, without Enter. Exits 0 when the command ended with exit code
CODE (5 unless given) after exactly EXPECTED_PROMPTS prompts, each answered by
its one key; otherwise prints what it saw and exits 1. With --output, the bytes
the terminal showed are kept in FILE. Nothing waits longer than a minute.
"""
import os
import pty
import select
import sys
import time

PROMPT = b"Hit any key to continue..."


def main():
    arguments = sys.argv[1:]
    options = {"--exit": "5", "--output": os.devnull}
    while arguments[0] in options:
        options[arguments[0]] = arguments[1]
        del arguments[:2]
    expected, command = int(arguments[0]), arguments[1:]
    child, terminal = pty.fork()
    if child == 0:
        os.execvp(command[0], command)
    output = b""
    answered = 0
    deadline = time.time() + 60
    while time.time() < deadline:
        ready, _, _ = select.select([terminal], [], [], 0.2)
        if ready:
            try:
                data = os.read(terminal, 4096)
            except OSError:
                break
            if not data:
                break
            output += data
        if output.count(PROMPT) > answered:
            time.sleep(0.3)
            os.write(terminal, b"k")
            answered += 1
    else:
        os.kill(child, 9)
    _, status = os.waitpid(child, 0)
    code = os.waitstatus_to_exitcode(status)
    with open(options["--output"], "wb") as kept:
        kept.write(output)
    if code == int(options["--exit"]) and answered == expected:
        return 0
    print(f"exit code {code}, {answered} prompt(s) answered, output {output!r}")
    return 1


sys.exit(main())
