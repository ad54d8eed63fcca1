// Where the tests find the build's binaries and the source tree.
#include "tests/support/Paths.h"

std::string BuildDir() { return RINGWARDEN_BUILD_DIR; }
std::string SourceDir() { return RINGWARDEN_SOURCE_DIR; }
std::string RingwardenBinary() { return BuildDir() + "/ringwarden"; }
