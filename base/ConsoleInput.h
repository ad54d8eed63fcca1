// Single keys from the console for the one-key prompts.
#pragma once

// Reads one key from standard input: on a console without waiting for Enter
// and without echo, otherwise one byte. Returns 0 when nothing could be read.
// Line input and echo are left off for the rest of the process.
char ReadKey();
