// What each of ringwarden's commands does to one device, and the lines it prints about a device.
#include "app/DeviceCommands.h"

#include "base/Resources.h"
#include "errors/ClException.h"
#include "errors/ConsoleOutput.h"
#include "supervisor/DeviceQueries.h"

UINT GetListHeaderId(DeviceCommand command)
{
    switch (command) {
    case StartServer: return 15;
    case StopServer: return 16;
    case DisconnectUser: return 22;
    default: return 14;
    }
}

void PrintLine(const ClString& text)
{
    ConsoleWriteLine(text.GetText(), text.GetLength(), false);
}

// A change the supervisor refused ends the run as a record that cannot be
// read does: what was done to the devices before stays, and a script that
// trusts the exit code is never told that the refused change was made.
static void ThrowIfRefused(uint32_t result, const char* deviceName)
{
    if (result != 0) {
        throw new ClWin32Exception(result, FormatResource(42, deviceName, static_cast<int>(result)));
    }
}

void RunDeviceCommand(ClSupervisor& supervisor, DeviceCommand command, SuprvAccessInfo& record,
                      const char* deviceName)
{
    switch (command) {
    case StartServer:
        record.flags |= SUPRV_SERVER_ENABLED;
        ThrowIfRefused(supervisor.SetAccessInfo(&record), deviceName);
        return;
    case StopServer:
        record.flags &= ~SUPRV_SERVER_ENABLED;
        ThrowIfRefused(supervisor.SetAccessInfo(&record), deviceName);
        return;
    case DisconnectUser:
        // A device with no connection up is no failure: the supervisor
        // answers 0 there.
        ThrowIfRefused(supervisor.Request(SUPRV_REQUEST_DISCONNECT, &record, 0), deviceName);
        return;
    default:
        PrintDeviceStatus(supervisor, record);
        return;
    }
}

void PrintDeviceStatus(ClSupervisor& supervisor, SuprvAccessInfo& record)
{
    // The record is at least SUPRV_MINIMUM_RECORD_SIZE + 1 bytes, so the
    // 256 characters of the comment and the 4 of the server type that are
    // shown lie inside it; the device type is terminated by the byte the
    // device pass keeps zero after the record at the latest.
    if (record.comment[0] != 0) {
        PrintLine(FormatResource(10, record.comment));
    }
    if (record.deviceType[0] != 0) {
        PrintLine(FormatResource(37, record.deviceType));
    }
    if (record.serverType[0] != 0) {
        PrintLine(FormatResource(21, record.serverType));
    }
    bool enabled = (record.flags & SUPRV_SERVER_ENABLED) != 0;
    PrintLine(ClString(enabled ? 6 : 7, g_hInstance));

    const int32_t status = QueryStatus(supervisor, record);
    if (enabled || status != SUPRV_STATUS_IDLE) {
        PrintLine(FormatResource(35, StatusText(status).GetText()));
    }

    ClString user = QueryUser(supervisor, record);
    if (!user.IsEmpty()) {
        PrintLine(FormatResource(36, user.GetText()));
    }
    PrintLine(ClString());
}
