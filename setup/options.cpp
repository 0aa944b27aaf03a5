// options.cpp - the run's options record, filled once from the command line.
#include "options.h"

ToolOptions g_toolOptions;
