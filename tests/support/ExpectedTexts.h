// Texts the program must print word for word, shared by the table and end-to-end tests.
#pragma once

// The usage text, string 9, as the table holds it.
extern const char kExpectedHelp[];
