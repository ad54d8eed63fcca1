// Where the tests find the build's binaries and the source tree.
#pragma once

#include <string>

// The top of the build folder: ringwarden and librasapi32.so lie here.
std::string BuildDir();
std::string SourceDir();
std::string RingwardenBinary();
