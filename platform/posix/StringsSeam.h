// Test seam of the locale-comparison stand-in.
#pragma once

// CompareStringA takes the user's locale from the environment (LC_ALL,
// LC_COLLATE, LC_CTYPE, LANG) once, when a comparison first meets a byte
// outside ASCII. This makes it read the environment again,
// so a test can compare under a locale it has just set. Not for use while
// another thread compares.
void ReloadUserLocaleForTesting();
