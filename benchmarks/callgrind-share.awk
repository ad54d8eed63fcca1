# Reads a callgrind profile and prints "TOTAL LIBRARY": all instructions of
# the run, and those spent inside calls into the shared object whose path
# contains `library` (the library's own code and all it calls in turn).
#
# A cost line directly after "calls=" is the inclusive cost of that call;
# every other cost line is the self cost of the current function. Object
# names are compressed: "(7) /path" defines number 7, "(7)" refers to it.

function ObjectName(spec,    id, rest) {
    if (!match(spec, /^\([0-9]+\)/)) {
        return spec
    }
    id = substr(spec, 2, RLENGTH - 2)
    rest = substr(spec, RLENGTH + 1)
    sub(/^ /, "", rest)
    if (rest != "") {
        names[id] = rest
    }
    return names[id]
}

/^ob=/ { object = ObjectName(substr($0, 4)); callee = object; next }
/^cob=/ { callee = ObjectName(substr($0, 5)); next }
/^calls=/ { inCall = 1; next }
/^[0-9+*-]/ {
    if (!inCall) {
        total += $2
    } else if (index(callee, library) && !index(object, library)) {
        inside += $2
    }
    # A callee object named before a call holds for that call only.
    inCall = 0
    callee = object
}
END { printf "%d %d\n", total, inside }
