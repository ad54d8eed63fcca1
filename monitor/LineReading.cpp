// ReadLines: one reading of every chosen line of the dial-up server.
#include "monitor/LineReading.h"

#include <string.h>

#include "base/Resources.h"
#include "errors/ClException.h"
#include "supervisor/DeviceQueries.h"
#include "supervisor/DeviceWalk.h"

namespace {

// String-table entries.
const UINT kInitializeFailedEntry = 2;

class ClReadingVisitor : public ClDeviceVisitor {
public:
    ClReadingVisitor(ClSupervisor& supervisor, std::vector<ClLineReading>& lines)
        : supervisor(supervisor), lines(lines)
    {
    }

    void BeginList(uint32_t) override {}

    void VisitDevice(DWORD position, const char* deviceName, SuprvAccessInfo& record) override
    {
        ClLineReading line;
        line.position = position;
        line.name = ClString(deviceName);
        // The walk keeps a zero byte after the record, so the device type ends inside it.
        line.deviceType = ClString(record.deviceType);
        line.serverType.AppendBytes(record.serverType,
                                    static_cast<DWORD>(strnlen(record.serverType, sizeof(record.serverType))));
        line.active = (record.flags & SUPRV_SERVER_ENABLED) != 0;
        line.status = QueryStatus(supervisor, record);
        line.user = QueryUser(supervisor, record);
        line.callStart = 0;
        supervisor.GetCallStart(&record, &line.callStart);
        lines.push_back(line);
    }

private:
    ClSupervisor& supervisor;
    std::vector<ClLineReading>& lines;
};

}  // namespace

std::vector<ClLineReading> ReadLines(ClSupervisor& supervisor, ClArray<ClDeviceSelector>& selectors,
                                     const ClString& deviceType)
{
    uint32_t zero = 0;
    const uint32_t result = supervisor.Initialize(&zero);
    if (result != 0) {
        ClWin32Exception* failure =
            new ClWin32Exception(result, FormatResource(kInitializeFailedEntry, static_cast<int>(result)));
        ClString described;
        try {
            if (supervisor.DescribeFailure(described) && !described.IsEmpty()) {
                failure->message.Append("\n");
                failure->message.Append(described);
            }
        } catch (...) {
            delete failure;
            throw;
        }
        throw failure;
    }
    std::vector<ClLineReading> lines;
    ClReadingVisitor visitor(supervisor, lines);
    WalkDevices(supervisor, visitor, selectors, deviceType);
    supervisor.DeInitialize();
    return lines;
}

bool IsFree(const ClLineReading& line)
{
    return line.active && line.status == SUPRV_STATUS_MONITORING;
}

bool HasFailed(const ClLineReading& line)
{
    return line.active && line.status == SUPRV_STATUS_MONITORING_FAILED;
}
