// The process entry on POSIX: records the module and the arguments, then runs WinMain.
#include "platform/posix/ProgramStart.h"

int main(int argc, char** argv) {
    return StartProgram(argc, argv);
}
