// main.cpp - the entry of duzedevazu; everything else lives in the tool's library so the tests share it.
#include "run.h"

namespace {

#ifdef DUZE_SIMULATED_LIBRARY
// The simulated library's settings, as its settings table describes them.
const char *const kSettings =
    " KYNSIM_CONNECT   result of KynDrvConnectLib\n"
    " KYNSIM_FAIL      operations that fail: OP:RESULT[@N|#N], comma-separated\n"
    " KYNSIM_NO_ATTR   absent attributes: OBJECT:ID, comma-separated\n"
    " KYNSIM_NO_TEXT   result codes without a text: all, or a list\n"
    " KYNSIM_MEMORY    board memory faults: zero, address, stuck-high=MASK, stuck-low=MASK\n"
    " KYNSIM_TIME      fixed current time, 100-ns intervals since 1601\n"
    " KYNSIM_BOARDS    boards present: COUNT, TYPE:COUNT, *:COUNT\n"
    " KYNSIM_KEYS      key codes the console returns first\n"
    " KYNSIM_TRACE     file for the call trace\n"
    " KYNSIM_HANDLES   the first device's handle\n"
    " KYNSIM_CONSOLE   console rules the interface leaves open: semicolon-lines, bare-echo\n"
    " KYNSIM_IMAGE     a board image (duzedevazu-pci --save-image): its first memory BAR is each board's memory\n";
#else
const char *const kSettings = nullptr;
#endif

} // namespace

int main(int argc, char **argv)
{
    return RunTool(argc, argv, ProgramExtras{nullptr, 0, kSettings});
}
