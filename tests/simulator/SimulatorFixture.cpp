// The simulated supervisor library, loaded from the build as the program loads it, with a state file of each test's own.
#include "tests/simulator/SimulatorFixture.h"

#include "tests/support/Paths.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>

template <class Proc>
static Proc Symbol(void* handle, const char* name)
{
    return reinterpret_cast<Proc>(dlsym(handle, name));
}

SupervisorFunctions LoadSupervisor(const std::string& path)
{
    SupervisorFunctions functions;
    functions.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (functions.handle == nullptr) {
        return functions;
    }
    functions.initialize = Symbol<SuprvInitializeProc>(functions.handle, "SuprvInitialize");
    functions.deInitialize = Symbol<SuprvDeInitializeProc>(functions.handle, "SuprvDeInitialize");
    functions.enumAccessInfo = Symbol<SuprvEnumAccessInfoProc>(functions.handle, "SuprvEnumAccessInfo");
    functions.getAccessInfo = Symbol<SuprvGetAccessInfoProc>(functions.handle, "SuprvGetAccessInfo");
    functions.setAccessInfo = Symbol<SuprvSetAccessInfoProc>(functions.handle, "SuprvSetAccessInfo");
    functions.request = Symbol<SuprvRequestProc>(functions.handle, "SuprvRequest");
    return functions;
}

void SimulatorTest::SetUp()
{
    char pattern[] = "/tmp/ringwarden-simulator-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    statePath = folder + "/state/suprv.state";
    setenv("SUPRV_STATE", statePath.c_str(), 1);
    supervisor = LoadSupervisor(BuildDir() + "/librasapi32.so");
    ASSERT_NE(supervisor.handle, nullptr) << dlerror();
}

void SimulatorTest::TearDown()
{
    if (supervisor.deInitialize != nullptr) {
        supervisor.deInitialize();
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

std::string SimulatorTest::StateText() const
{
    std::ifstream file(statePath, std::ios::binary);
    if (!file) {
        return "<none>";
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void SimulatorTest::WriteState(const std::string& text) const
{
    std::filesystem::create_directories(folder + "/state");
    std::ofstream(statePath, std::ios::binary) << text;
}

std::string SimulatorTest::GeneratedState(unsigned count)
{
    std::string text = "suprv-state 1 generation 0123456789abcdef\n";
    for (unsigned i = 1; i <= count; ++i) {
        text += "device Line" + std::to_string(i) + "\n  type modem\n  server PPP\nend\n";
    }
    return text;
}

uint32_t SimulatorTest::Initialize()
{
    uint32_t zero = 0;
    return supervisor.initialize(&zero);
}

std::vector<std::string> SimulatorTest::Names()
{
    uint32_t bytes = 0;
    uint32_t names = 0;
    supervisor.enumAccessInfo(nullptr, &bytes, &names);
    std::vector<char> buffer(bytes + 1, '\0');
    EXPECT_EQ(supervisor.enumAccessInfo(buffer.data(), &bytes, &names), 0u);
    std::vector<std::string> result;
    for (size_t at = 0; at < bytes && result.size() < names; at += result.back().size() + 1) {
        result.emplace_back(buffer.data() + at);
    }
    return result;
}

std::vector<unsigned char> SimulatorTest::Record(const char* name, uint32_t* result)
{
    uint32_t size = 0;
    supervisor.getAccessInfo(name, nullptr, &size);
    std::vector<unsigned char> record(size);
    uint32_t fill = supervisor.getAccessInfo(name, record.data(), &size);
    if (result != nullptr) {
        *result = fill;
    }
    if (fill != 0) {
        record.clear();
    }
    return record;
}

uint32_t SimulatorTest::FlagsOf(const std::vector<unsigned char>& record)
{
    uint32_t flags = 0;
    if (record.size() >= 152) {
        memcpy(&flags, record.data() + 148, 4);
    }
    return flags;
}

uint32_t SimulatorTest::SetFlags(const char* name, uint32_t flags)
{
    std::vector<unsigned char> record = Record(name);
    if (record.size() < 152) {
        return 0xFFFFFFFF;
    }
    memcpy(record.data() + 148, &flags, 4);
    return supervisor.setAccessInfo(record.data());
}

int32_t SimulatorTest::Status(const char* name)
{
    std::vector<unsigned char> record = Record(name);
    SuprvStatusRequest request = {record.data(), 0, -1, 0};
    supervisor.request(SUPRV_REQUEST_STATUS, &request, 0);
    return request.status;
}

std::string SimulatorTest::User(const char* name)
{
    std::vector<unsigned char> record = Record(name);
    SuprvUserRequest request;
    memset(&request, 0, sizeof(request));
    request.device = record.data();
    supervisor.request(SUPRV_REQUEST_USER, &request, 0);
    return std::string(request.user, strnlen(request.user, sizeof(request.user)));
}

uint32_t SimulatorTest::Disconnect(const char* name)
{
    std::vector<unsigned char> record = Record(name);
    return supervisor.request(SUPRV_REQUEST_DISCONNECT, record.data(), 0);
}
