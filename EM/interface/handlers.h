// The command handlers of the command table. Each takes the host's DriverCall and
// returns the result code that ZelMain hands back unchanged.
#pragma once

#include "interface/em_driver.h"

#include <cstdint>

using Handler = std::int32_t (*)(const DriverCall &call);

std::int32_t ColdStart(const DriverCall &call);
std::int32_t WarmStart(const DriverCall &call);
std::int32_t DefineItem(const DriverCall &call);
std::int32_t CheckItem(const DriverCall &call);
std::int32_t SingleRead(const DriverCall &call);
std::int32_t BlockRead(const DriverCall &call);
std::int32_t SingleWrite(const DriverCall &call);
std::int32_t AnswerOne(const DriverCall &call);
std::int32_t Shutdown(const DriverCall &call);
std::int32_t ClosePort(const DriverCall &call);
std::int32_t OpenPort(const DriverCall &call);
std::int32_t GetDriverInfo(const DriverCall &call);
std::int32_t ReopenPort(const DriverCall &call);
