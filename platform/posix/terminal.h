// Leaves every terminal as the stand-in found it: attributes saved before the first change, put back at exit.
#pragma once

#include <stddef.h>
#include <sys/types.h>

// Remembers the attributes of the terminal open on `fd`, unless they were
// remembered before, so that they are put back when the process ends, through
// exit or through a signal that ends it (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGABRT). Call it before changing the terminal's attributes. Returns false
// when `fd` is no terminal. A forked child keeps nothing of its parent's.
bool SaveTerminalAttributes(int fd);

// Notes that the title of the controlling terminal is about to be pushed onto
// the terminal's title stack, so that it is popped again at exit. Returns
// false when this process pushed it before.
bool MarkTitlePushed();

// Puts back every saved terminal attribute and pops a pushed title now.
// Async-signal-safe, for handlers of fatal signals that end the process.
void RestoreTerminalsNow();

// Makes SIGPIPE ignored (unless someone installed a handler), so that a write
// to a pipe whose reader went away fails instead of ending the process.
void IgnoreBrokenPipes();

// Writes all of count bytes to `fd`, through short writes and interrupted
// calls, with broken pipes ignored. Returns the bytes written; fewer than
// count means errno tells why.
size_t WriteFully(int fd, const void* bytes, size_t count);

// One read, repeated only when a signal interrupted it: -1 with errno on an
// error, 0 at the end of input.
ssize_t ReadRetrying(int fd, void* buffer, size_t count);

// The most bytes of one key that ReadTerminalKey takes from the terminal.
constexpr size_t kMaxKeyBytes = 32;

// Reads one key press from a terminal without line input: one byte, or all
// of an escape sequence (arrows, Home, End, Page Up/Down, function keys, with
// modifiers; Alt with a key) or of a UTF-8 character. Esc alone is told from
// the start of a sequence by a pause of 50 ms with nothing after it, the
// bytes of a sequence coming from the terminal all at once. Stores the key's
// first `count` bytes and drops the rest; what was typed after the key stays
// unread. Returns the bytes stored, 0 at the end of input, -1 with errno on
// an error, like a read.
ssize_t ReadTerminalKey(int fd, void* buffer, size_t count);

// Opens the controlling terminal for reading and writing; -1 when the process
// has none. The caller closes it.
int OpenControllingTerminal();
