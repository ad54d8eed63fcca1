// RunDevicePass: ringwarden's pass over the chosen devices, printing their list and the selectors that matched nothing.
#include "app/DevicePass.h"

#include "app/DeviceCommands.h"
#include "base/Resources.h"
#include "supervisor/DeviceWalk.h"

namespace {

// Prints the list and runs the command on each device the walk chooses.
class ClCommandVisitor : public ClDeviceVisitor {
public:
    ClCommandVisitor(ClSupervisor& supervisor, DeviceCommand command) : supervisor(supervisor), command(command) {}

    void BeginList(uint32_t nameCount) override
    {
        if (nameCount == 0) {
            PrintLine(ClString(13, g_hInstance));
        }
        PrintLine(ClString(GetListHeaderId(command), g_hInstance));
    }

    void VisitDevice(DWORD position, const char* deviceName, SuprvAccessInfo& record) override
    {
        PrintLine(FormatResource(4, position, deviceName));
        RunDeviceCommand(supervisor, command, record, deviceName);
    }

private:
    ClSupervisor& supervisor;
    DeviceCommand command;
};

void ReportUnmatched(ClArray<ClDeviceSelector>& selectors)
{
    for (DWORD i = 0; i < selectors.GetCount(); ++i) {
        ClDeviceSelector& selector = selectors[i];
        if (selector.found) {
            continue;
        }
        if (!selector.name.IsEmpty()) {
            PrintLine(FormatResource(20, selector.name.GetTerminated()));
        } else if (selector.number != 0) {
            PrintLine(FormatResource(19, selector.number));
        } else {
            PrintLine(ClString(23, g_hInstance));
        }
        MessageBeep(MB_ICONEXCLAMATION);
    }
}

}  // namespace

DWORD RunDevicePass(ClSupervisor& supervisor, DeviceCommand command, ClArray<ClDeviceSelector>& selectors,
                    const ClString& deviceType)
{
    ClCommandVisitor visitor(supervisor, command);
    WalkDevices(supervisor, visitor, selectors, deviceType);
    ReportUnmatched(selectors);
    return 0;
}
