// A device's connection as the supervisor reports it, its status and its user, and the words for a status.
#pragma once

#include <stdint.h>

#include "base/ClString.h"
#include "supervisor/ClSupervisor.h"
#include "supervisor/SupervisorApi.h"

// The device's connection status (request 54): a SUPRV_STATUS_ code, or
// whatever else the supervisor left, -1 when it left the preset.
int32_t QueryStatus(ClSupervisor& supervisor, SuprvAccessInfo& record);

// The user logged in through the device (request 55); empty for none.
ClString QueryUser(ClSupervisor& supervisor, SuprvAccessInfo& record);

// The text of a connection status; every code outside 0 to 7 is "Unknown".
ClString StatusText(int32_t status);
