// tested_tool.cpp - the built tool a test program runs: each program compiles this with its own DUZE_TOOL_PATH.
#include "e2e_harness.h"

const char *const kTestedTool = DUZE_TOOL_PATH;
