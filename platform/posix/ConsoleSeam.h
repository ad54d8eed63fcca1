// Test seam of the console stand-in.
#pragma once

// The console functions ask once whether each standard descriptor is open
// and a console. A test that moves another file onto one with dup2 calls
// this, so that they ask again.
void ForgetConsoleAnswersForTesting();
