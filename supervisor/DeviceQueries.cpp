// A device's connection as the supervisor reports it, its status and its user, and the words for a status.
#include "supervisor/DeviceQueries.h"

#include "base/Resources.h"

#include <string.h>

int32_t QueryStatus(ClSupervisor& supervisor, SuprvAccessInfo& record)
{
    SuprvStatusRequest status = {&record, 0, -1, 0};
    supervisor.Request(SUPRV_REQUEST_STATUS, &status, 0);
    return status.status;
}

ClString QueryUser(ClSupervisor& supervisor, SuprvAccessInfo& record)
{
    SuprvUserRequest user;
    memset(&user, 0, sizeof(user));
    user.device = &record;
    supervisor.Request(SUPRV_REQUEST_USER, &user, 0);
    // A supervisor may fill the whole field without a terminator.
    ClString name;
    name.AppendBytes(user.user, static_cast<DWORD>(strnlen(user.user, sizeof(user.user))));
    return name;
}

ClString StatusText(int32_t status)
{
    uint32_t code = static_cast<uint32_t>(status);
    return ClString(code <= SUPRV_STATUS_MONITORING_FAILED ? 26 + code : 34, g_hInstance);
}
