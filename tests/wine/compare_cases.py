"""Compares the api_behaviour lines of the stand-in with those of Wine.

usage: compare_cases.py STAND_IN_LINES WINE_LINES MODE KNOWN_DIFFERENCES

Each line reads "case: result". Prints one line per case that differs; exits 1
when a difference is not listed for this mode in KNOWN_DIFFERENCES.
"""
import sys


def read_cases(path):
    cases = {}
    with open(path) as lines:
        for line in lines:
            name, _, value = line.rstrip("\n").rpartition(": ")
            cases.setdefault(name, []).append(value)
    return cases


def read_known(path):
    known = {}
    with open(path) as lines:
        for line in lines:
            if not line.strip() or line.startswith("#"):
                continue
            name, modes, _why = line.rstrip("\n").split("\t")
            known[name] = modes.split()
    return known


def main():
    stand_in_path, wine_path, mode, known_path = sys.argv[1:]
    stand_in, wine, known = read_cases(stand_in_path), read_cases(wine_path), read_known(known_path)
    failed = False
    for name in sorted(set(stand_in) | set(wine)):
        if stand_in.get(name) == wine.get(name):
            continue
        seen = f"{name}: stand-in {stand_in.get(name)}, Wine {wine.get(name)}"
        if mode in known.get(name, []):
            print(f"note   known difference, {seen}")
        else:
            print(f"differs {seen}")
            failed = True
    sys.exit(1 if failed else 0)


main()
