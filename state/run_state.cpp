// run_state.cpp - the run's state: its options and its device handles, live for the whole run.
#include "devices.h"
#include "options.h"

ToolOptions g_toolOptions;
KYN_HANDLE g_hBoard = 0;
KYN_HANDLE g_hPlx = 0;
