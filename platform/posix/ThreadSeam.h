// Test seam of the thread stand-in: thread creation that fails on demand.
#pragma once

// Makes the next `count` calls of CreateThread fail with
// ERROR_NOT_ENOUGH_MEMORY, as when the system has no room for a thread.
void FailNextThreadCreations(int count);
