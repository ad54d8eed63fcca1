// The reading in the Prometheus text exposition format, and its atomic replacement of a textfile.
#pragma once

#include <string>
#include <vector>

#include "monitor/LineReading.h"

// The metrics of a reading: per line its server state, one gauge per
// status, its user, its types and when its call began; and
// ringwarden_reading_success 1.
std::string FormatExposition(const std::vector<ClLineReading>& lines);

// The document of a reading that failed: ringwarden_reading_success 0 alone.
extern const char kFailedExposition[];

// Writes `length` bytes of `text` to `temporary`, readable by all, and
// renames it over `path`, so a reader sees the old file or the new one whole,
// never a part. Removes the temporary file on failure. Returns 0, or the
// errno of the step that failed. Makes only async-signal-safe calls, so a
// signal handler may use it.
int ReplaceFile(const char* path, const char* temporary, const char* text, size_t length);

// The temporary file of the run with process number `process` for `path`.
std::string TemporaryName(const std::string& path, long process);

// Removes the temporary files for `path` that runs no longer running left
// behind (killed before they could remove them).
void RemoveStaleTemporaries(const std::string& path);
