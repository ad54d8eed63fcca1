// The simulated supervisor library, loaded from the build as the program loads it, with a state file of each test's own.
#pragma once

#include "supervisor/SupervisorApi.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string>
#include <vector>

// The six functions of one loaded copy of a library file.
struct SupervisorFunctions {
    void* handle = nullptr;
    SuprvInitializeProc initialize = nullptr;
    SuprvDeInitializeProc deInitialize = nullptr;
    SuprvEnumAccessInfoProc enumAccessInfo = nullptr;
    SuprvGetAccessInfoProc getAccessInfo = nullptr;
    SuprvSetAccessInfoProc setAccessInfo = nullptr;
    SuprvRequestProc request = nullptr;
};

// Loads the library at `path` (RTLD_LOCAL, so each file is its own copy);
// missing functions stay null.
SupervisorFunctions LoadSupervisor(const std::string& path);

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The state file's text, or "<none>".
    std::string StateText() const;
    void WriteState(const std::string& text) const;
    // A state file with `count` devices Line1..LineN, all stopped and idle.
    static std::string GeneratedState(unsigned count);

    uint32_t Initialize();
    // The enumerated names, in order.
    std::vector<std::string> Names();
    // The device's record as the fill call gives it; empty when it fails.
    std::vector<unsigned char> Record(const char* name, uint32_t* result = nullptr);
    // The record with its flags word set to `flags`, written back.
    uint32_t SetFlags(const char* name, uint32_t flags);
    int32_t Status(const char* name);
    std::string User(const char* name);
    uint32_t Disconnect(const char* name);

    static uint32_t FlagsOf(const std::vector<unsigned char>& record);

    std::string folder;
    std::string statePath;
    SupervisorFunctions supervisor;
};
