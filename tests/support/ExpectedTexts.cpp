// Texts the program must print word for word, shared by the table and end-to-end tests.
#include "tests/support/ExpectedTexts.h"

const char kExpectedHelp[] =
    "Ringwarden [command] [device_name]\r\n"
    "Ringwarden [command] [/N:device_number] [/T:device_type]\r\n"
    "\r\n"
    "Commands: \r\n"
    "startserver\t- start dial-up server\r\n"
    "stopserver\t- stop dial-up server\r\n"
    "disconnectuser\t- break connection\r\n"
    "showstatus (or no command specified)\t- display device status\r\n"
    "help or ? or /? - show this help\r\n"
    "\r\n"
    "If device_name was not specified, the command is performed on all available\r\n"
    "devices\r\n"
    "\r\n"
    "/N:device_number - You can select device by it's order in device list\n"
    "instead of its name\r\n"
    "/T:device_type - show only devices of the specified type\r\n";
