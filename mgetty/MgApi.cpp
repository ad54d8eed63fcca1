// The dial-up supervisor over mgetty: the six functions of the supervisor library for the lines of a real dial-in server.
//
// Built as librasapi32.so in the build's mgetty folder. Each device is a line
// mgetty serves or is set up to serve; its record carries the line's name at
// its start, so that a record handed back names its line.
#include "mgetty/MgFiles.h"
#include "mgetty/MgRun.h"
#include "supervisor/SupervisorApi.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <utmp.h>

#define MG_EXPORT extern "C" __attribute__((visibility("default")))

static_assert(MG_RECORD_SIZE > SUPRV_MINIMUM_RECORD_SIZE, "the record holds every field");
static_assert(MG_NAME_SIZE <= offsetof(SuprvAccessInfo, deviceType), "the name lies before the device type");
static_assert(offsetof(SuprvAccessInfo, comment) + MG_COMMENT_SIZE == MG_RECORD_SIZE,
              "the comment runs to the record's end");

static MgRun g_run;
static bool g_ready;
// What the last failed initialisation failed on, for SuprvDescribeFailure.
static char g_failure[MG_PATH_SIZE + 64];

MG_EXPORT uint32_t WINAPI SuprvInitialize(uint32_t* zero)
{
    (void)zero;
    if (g_ready) {
        MgRunFree(&g_run);
    }
    MgRunInit(&g_run);
    g_ready = false;
    uint32_t result = MgSetRoot(getenv("SUPRV_ROOT"));
    if (result == SUPRV_OK) {
        result = MgReadLines(&g_run);
    }
    if (result == SUPRV_OK) {
        result = MgReadLogins(&g_run);
    }
    if (result != SUPRV_OK) {
        snprintf(g_failure, sizeof(g_failure), "%s", MgRefused(result) ? MgLastRefusal() : "");
        MgRunFree(&g_run);
        return result;
    }
    g_failure[0] = 0;
    g_ready = true;
    return SUPRV_OK;
}

MG_EXPORT uint32_t WINAPI SuprvDeInitialize(void)
{
    if (!g_ready) {
        return SUPRV_ERROR_NOT_READY;
    }
    MgRunFree(&g_run);
    g_ready = false;
    return SUPRV_OK;
}

MG_EXPORT uint32_t WINAPI SuprvEnumAccessInfo(char* buffer, uint32_t* byteCount, uint32_t* nameCount)
{
    if (byteCount == nullptr || nameCount == nullptr) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    if (!g_ready) {
        *byteCount = 0;
        *nameCount = 0;
        return SUPRV_ERROR_NOT_READY;
    }
    // The names one after another, each ended by a zero byte; no lines is
    // two zero bytes, so that an empty list is not taken for a failure.
    uint32_t needed = 0;
    for (uint32_t i = 0; i < g_run.count; ++i) {
        needed += static_cast<uint32_t>(strlen(g_run.lines[i].name)) + 1;
    }
    needed = needed == 0 ? 2 : needed;
    if (buffer == nullptr || *byteCount < needed) {
        *byteCount = needed;
        *nameCount = g_run.count;
        return SUPRV_ERROR_INSUFFICIENT_BUFFER;
    }
    char* out = buffer;
    for (uint32_t i = 0; i < g_run.count; ++i) {
        size_t length = strlen(g_run.lines[i].name) + 1;
        memcpy(out, g_run.lines[i].name, length);
        out += length;
    }
    memset(out, 0, static_cast<size_t>(buffer + needed - out));
    *byteCount = needed;
    *nameCount = g_run.count;
    return SUPRV_OK;
}

static void FillRecord(const MgLine* line, unsigned char* record)
{
    memset(record, 0, MG_RECORD_SIZE);
    memcpy(record, line->name, strlen(line->name));
    // isdn4linux's lines are ttyI0 and on, under a link's name too.
    const char* node = line->node[0] != 0 ? line->node : line->device;
    const char* base = strrchr(node, '/');
    const char* type = strncmp(base != nullptr ? base + 1 : node, "ttyI", 4) == 0 ? "isdn" : "modem";
    memcpy(record + offsetof(SuprvAccessInfo, deviceType), type, strlen(type));
    uint32_t flags = MgServerEnabled(line) ? SUPRV_SERVER_ENABLED : 0;
    memcpy(record + offsetof(SuprvAccessInfo, flags), &flags, sizeof(flags));
    const char* server = MgServerType(&g_run, line);
    memcpy(record + offsetof(SuprvAccessInfo, serverType), server, strnlen(server, SUPRV_SERVER_TYPE_LENGTH));
    memcpy(record + offsetof(SuprvAccessInfo, comment), line->comment, strnlen(line->comment, MG_COMMENT_SIZE - 1));
}

MG_EXPORT uint32_t WINAPI SuprvGetAccessInfo(const char* deviceName, void* record, uint32_t* size)
{
    if (deviceName == nullptr || size == nullptr) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    if (!g_ready) {
        return SUPRV_ERROR_NOT_READY;
    }
    const MgLine* line = MgFindLine(&g_run, deviceName);
    if (line == nullptr) {
        *size = 0;
        return SUPRV_ERROR_DEVICE_NOT_EXIST;
    }
    if (record == nullptr || *size < MG_RECORD_SIZE) {
        *size = MG_RECORD_SIZE;
        return SUPRV_ERROR_INSUFFICIENT_BUFFER;
    }
    FillRecord(line, static_cast<unsigned char*>(record));
    *size = MG_RECORD_SIZE;
    return SUPRV_OK;
}

// The line a record handed back by the caller belongs to: the name at its start.
static const MgLine* LineOfRecord(const void* record)
{
    if (record == nullptr) {
        return nullptr;
    }
    const char* name = static_cast<const char*>(record);
    if (memchr(name, 0, MG_NAME_SIZE) == nullptr) {
        return nullptr;
    }
    return MgFindLine(&g_run, name);
}

// The line of a record handed back to a function that needs the supervisor
// initialised; null, with the error number in `error`, when there is none.
static const MgLine* ReadyLineOfRecord(const void* record, uint32_t* error)
{
    *error = record == nullptr ? SUPRV_ERROR_INVALID_PARAMETER : !g_ready ? SUPRV_ERROR_NOT_READY : SUPRV_ERROR_DEVICE_NOT_EXIST;
    return record != nullptr && g_ready ? LineOfRecord(record) : nullptr;
}

MG_EXPORT uint32_t WINAPI SuprvSetAccessInfo(void* record)
{
    uint32_t error;
    const MgLine* line = ReadyLineOfRecord(record, &error);
    if (line == nullptr) {
        return error;
    }
    uint32_t flags;
    memcpy(&flags, static_cast<const unsigned char*>(record) + offsetof(SuprvAccessInfo, flags), sizeof(flags));
    return MgSetServerEnabled(line, (flags & SUPRV_SERVER_ENABLED) != 0);
}

// The call's start is the time of the login record of the user shown on the
// line: the latest of the line's records that names them.
MG_EXPORT uint32_t WINAPI SuprvGetCallStart(const void* record, uint64_t* start)
{
    uint32_t error;
    const MgLine* line = ReadyLineOfRecord(record, &error);
    if (start == nullptr || line == nullptr) {
        return start == nullptr ? SUPRV_ERROR_INVALID_PARAMETER : error;
    }
    *start = 0;
    if (MgLineStatus(&g_run, line) != SUPRV_STATUS_CONNECTED) {
        return SUPRV_OK;
    }
    char user[SUPRV_USER_LENGTH];
    MgLineUser(&g_run, line, user, sizeof(user));
    for (uint32_t i = g_run.loginCount; user[0] != 0 && i-- > 0;) {
        const MgLogin& login = g_run.logins[i];
        if (login.type == USER_PROCESS && strcmp(login.user, user) == 0 && MgLoginOnLine(line, login.line)) {
            *start = login.time > 0 ? static_cast<uint64_t>(login.time) : 0;
            break;
        }
    }
    return SUPRV_OK;
}

MG_EXPORT uint32_t WINAPI SuprvRequest(uint32_t code, void* request, uint32_t zero)
{
    (void)zero;
    if (!g_ready) {
        return SUPRV_ERROR_NOT_READY;
    }
    if (request == nullptr) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    if (code == SUPRV_REQUEST_STATUS) {
        SuprvStatusRequest* status = static_cast<SuprvStatusRequest*>(request);
        const MgLine* line = LineOfRecord(status->device);
        if (line == nullptr) {
            return SUPRV_ERROR_DEVICE_NOT_EXIST;
        }
        status->status = MgLineStatus(&g_run, line);
        return SUPRV_OK;
    }
    if (code == SUPRV_REQUEST_USER) {
        SuprvUserRequest* user = static_cast<SuprvUserRequest*>(request);
        const MgLine* line = LineOfRecord(user->device);
        if (line == nullptr) {
            return SUPRV_ERROR_DEVICE_NOT_EXIST;
        }
        MgLineUser(&g_run, line, user->user, sizeof(user->user));
        return SUPRV_OK;
    }
    if (code == SUPRV_REQUEST_DISCONNECT) {
        const MgLine* line = LineOfRecord(request);
        return line == nullptr ? SUPRV_ERROR_DEVICE_NOT_EXIST : MgHangUp(&g_run, line);
    }
    return SUPRV_ERROR_NOT_SUPPORTED;
}

MG_EXPORT uint32_t WINAPI SuprvDescribeFailure(char* text, uint32_t size)
{
    if (text == nullptr || size == 0) {
        return SUPRV_ERROR_INVALID_PARAMETER;
    }
    snprintf(text, size, "%s", g_failure);
    return SUPRV_OK;
}
