// Where the driver's log lines go and which of them are written: -v shows the outcome
// lines (level 32), -vv the detail lines too (level 64); otherwise ZEL_LOG_MASK decides, and
// without it the driver stays quiet. ZEL_LOG_FILE names a file instead of standard error.
#pragma once

// Configures the host log library. A ZEL_LOG_MASK or ZEL_LOG_FILE that cannot be used gets a
// one-line warning on standard error. Returns true when lines may reach standard error.
bool ConfigureDriverLog(int verbosity);
