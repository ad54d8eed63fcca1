// The command tail a WinMain program is handed: its command line after the program name.
#pragma once

// The command line after the program name (quoted or not) and the blanks and
// control characters that follow it, as the start-up code of a WinMain
// program cuts it. Points into `commandLine`.
inline char* CommandTail(char* commandLine) {
    char* at = commandLine;
    if (*at == '"') {
        ++at;
        while (*at != '\0' && *at != '"') {
            ++at;
        }
        if (*at == '"') {
            ++at;
        }
    } else {
        while (static_cast<unsigned char>(*at) > ' ') {
            ++at;
        }
    }
    while (*at != '\0' && static_cast<unsigned char>(*at) <= ' ') {
        ++at;
    }
    return at;
}
