// main_pci.cpp - the entry of duzedevazu-pci: its device named on the command line (--device, --ids),
// passed on as the PCI library's settings, which the command line wins over.
#include <stdlib.h>

#include <string>

#include "board_table.h"
#include "run.h"

namespace {

// --device was given: --ids, before or after it, leaves its slot alone.
bool g_bDeviceGiven = false;

void TakeDevice(const char *pszSlot)
{
    setenv("KYNPCI_DEVICE", pszSlot, 1);
    g_bDeviceGiven = true;
}

// The IDs stand for whichever board type the run opens: every code of the board table gets them.
// A slot from the environment would win over them, so it is cleared; --device still wins.
void TakeIds(const char *pszIds)
{
    std::string strIds;
    for (int i = 0; i < g_nBoardTypeCount; ++i)
        strIds += (i > 0 ? ";" : "") + std::to_string(g_aBoardTypeTable[i].nCode) + "=" + pszIds;
    setenv("KYNPCI_IDS", strIds.c_str(), 1);
    if (!g_bDeviceGiven)
        unsetenv("KYNPCI_DEVICE");
}

const ProgramOption kOptions[] = {
    {"--device", "SLOT", "the PCI device, [[DOMAIN:]BUS:]DEVICE.FUNCTION as lspci -s takes it (KYNPCI_DEVICE)",
     TakeDevice},
    {"--ids", "VENDOR:DEVICE", "the PCI device by its IDs, as lspci -d takes them (KYNPCI_IDS)", TakeIds},
};

// The PCI library's settings, as its settings table describes them.
const char *const kSettings =
    " KYNPCI_IDS           PCI IDs of each board type: CODE=VENDOR:DEVICE[,...][;CODE=...]\n"
    " KYNPCI_DEVICE        one device by slot, for any board type and number\n"
    " KYNPCI_BAR           the BAR that holds the board registers\n"
    " KYNPCI_SYSFS         the sysfs PCI tree instead of /sys/bus/pci\n"
    " KYNPCI_ALLOW_DRIVER  1: map the BAR of a device a kernel driver holds\n"
    " KYNPCI_ENABLE        1: turn on the memory decoding of a device no driver holds\n"
    " KYNPCI_ACCESS        how registers are reached: auto (vfio for a device bound to vfio-pci), sysfs or vfio\n"
    " KYNPCI_TRACE         file for the call trace\n"
    " KYNPCI_CONF          the settings file instead of /etc/duzedevazu/kynpci.conf\n";

} // namespace

int main(int argc, char **argv)
{
    return RunTool(argc, argv, ProgramExtras{kOptions, sizeof kOptions / sizeof kOptions[0], kSettings});
}
