// main.cpp - program entry; everything else lives in the tool's library so the tests share it.
#include "run.h"

int main(int argc, char **argv)
{
    return RunTool(argc, argv);
}
