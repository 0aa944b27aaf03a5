// main_pci.cpp - the entry of duzedevazu-pci: its device named on the command line (--device, --ids),
// passed on as the PCI library's settings, which the command line wins over; the machine's devices
// for --list; a board that cannot be found said in words before anything starts.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "board_image.h"
#include "command_line.h"
#include "image_compare.h"
#include "duze_limits.h"
#include "kyn_pci.h"
#include "options.h"
#include "printable.h"
#include "register_map.h"
#include "run.h"

namespace {

// Bytes of a number with an optional K, M or G suffix; false where it is none or above nMax.
bool ParseByteCount(const char *pszText, uint64_t nMax, uint64_t *pnBytes)
{
    char *pszEnd = nullptr;
    errno = 0;
    if (*pszText < '0' || *pszText > '9')
        return false;
    unsigned long long nValue = strtoull(pszText, &pszEnd, 0);
    uint64_t nUnit = *pszEnd == 'K' ? 1u << 10 : *pszEnd == 'M' ? 1u << 20 : *pszEnd == 'G' ? 1u << 30 : 1;
    if (nUnit != 1)
        ++pszEnd;
    if (errno != 0 || *pszEnd != '\0' || nValue > nMax / nUnit)
        return false;
    *pnBytes = nValue * nUnit;
    return true;
}

// A list of memory BARs, as 0,2; false where it is none.
bool ParseBarList(const std::string &strList, std::vector<int> &aBars)
{
    aBars.clear();
    for (size_t nStart = 0; nStart <= strList.size();) {
        size_t nEnd = strList.find(',', nStart);
        std::string strBar = strList.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
        if (strBar.size() != 1 || strBar[0] < '0' || strBar[0] > '5')
            return false;
        aBars.push_back(strBar[0] - '0');
        nStart = nEnd == std::string::npos ? strList.size() + 1 : nEnd + 1;
    }
    return true;
}

// A value lspci would refuse is the user's mistake: status 2, naming the option. Before the console
// starts: nothing else is shown.
void CheckOrEnd(const char *pszOption, bool bValid, const std::string &strWhy)
{
    if (bValid)
        return;
    fprintf(stderr, "Error: %s %s\n", pszOption, Printable(strWhy).c_str());
    exit(2);
}

// Every option of the program is checked as it is taken, then kept in the options record as given.
void TakeOption(const OptionRow &row, const char *pszValue, const char *pszOperand, ToolOptions *pOptions)
{
    std::string strWhy, strName = row.pszName;
    std::vector<int> aBars;
    uint64_t nBytes = 0;
    if (strName == "--device")
        CheckOrEnd("--device", KynPciCheckSlot(pszValue, strWhy), strWhy);
    else if (strName == "--ids")
        CheckOrEnd("--ids", KynPciCheckIds(pszValue, strWhy), strWhy);
    else if (strName == "--image-bars")
        CheckOrEnd("--image-bars", ParseBarList(pszValue, aBars), std::string(pszValue) + ": not a list of BARs 0 to 5 (0,2)");
    else if (strName == "--image-limit")
        CheckOrEnd("--image-limit", ParseByteCount(pszValue, 1ull << 30, &nBytes),
                   std::string(pszValue) + ": not a number of bytes up to 1G (K, M, G suffixes)");
    pOptions->aProgramValues.push_back({row.pszName, pszValue, pszOperand != nullptr ? pszOperand : ""});
}

const OptionRow kOptions[] = {
    {"--device", "SLOT", TakeOption, "the PCI device, [[DOMAIN:]BUS:][DEVICE][.FUNCTION] as lspci -s takes it (KYNPCI_DEVICE)",
     nullptr},
    {"--ids", "VENDOR:DEVICE", TakeOption, "the PCI device by its IDs, [VENDOR][:DEVICE[:CLASS]] as lspci -d takes them "
     "(KYNPCI_IDS)", nullptr},
    {"--save-image", "DIR", TakeOption, "saves the device into the new directory DIR (configuration space, BARs, manifest)",
     nullptr},
    {"--image-bars", "LIST", TakeOption, "the memory BARs --save-image saves the contents of, as 0,2 (all)", nullptr},
    {"--image-limit", "BYTES", TakeOption, "bytes --save-image saves of each BAR at most, K, M, G suffixes (1M)", nullptr},
    {"--image", "DIR", TakeOption, "runs on a saved image as on the device, writes to a private copy (KYNPCI_IMAGE)", nullptr},
    {"--image-writable", nullptr, TakeOption, "--image's writes change the image itself", nullptr},
    {"--compare", "DIR", TakeOption, "each register that differs between the device (or --image) and image DIR, or two "
     "images; status 0 equal, 1 different", "DIR2"},
};

// The last value the command line gave an option, or null.
const ProgramValue *Given(const char *pszName)
{
    const ProgramValue *pFound = nullptr;
    for (const ProgramValue &value : g_toolOptions.aProgramValues)
        if (strcmp(value.pszName, pszName) == 0)
            pFound = &value;
    return pFound;
}

const char *GivenText(const char *pszName)
{
    const ProgramValue *pValue = Given(pszName);
    return pValue != nullptr ? pValue->strValue.c_str() : nullptr;
}

// What a save takes from the command line: the BARs, the limit.
ImageSaveOptions SaveOptions()
{
    ImageSaveOptions options;
    if (const char *pszBars = GivenText("--image-bars"))
        ParseBarList(pszBars, options.aBars);
    if (const char *pszLimit = GivenText("--image-limit"))
        ParseByteCount(pszLimit, 1ull << 30, &options.nLimit);
    return options;
}

// The PCI library's settings, as its settings table describes them.
const char *const kSettings =
    " KYNPCI_IDS           PCI IDs of each board type: CODE=VENDOR:DEVICE[,...][;CODE=...]; code * any type\n"
    " KYNPCI_DEVICE        one device by slot, for any board type and number\n"
    " KYNPCI_BAR           the BAR that holds the board registers\n"
    " KYNPCI_SYSFS         the sysfs PCI tree instead of /sys/bus/pci\n"
    " KYNPCI_ALLOW_DRIVER  1: map the BAR of a device a kernel driver holds\n"
    " KYNPCI_ENABLE        1: turn on the memory decoding of a device no driver holds\n"
    " KYNPCI_ACCESS        how registers are reached: auto (vfio for a device bound to vfio-pci), sysfs or vfio\n"
    " KYNPCI_TRACE         file for the call trace\n"
    " KYNPCI_IMAGE         a saved board image to run on as on its device (duzedevazu-pci --image)\n"
    " KYNPCI_CONF          the settings file instead of /etc/duzedevazu/kynpci.conf\n";

bool ListDevices(int32_t nBoardType, uint32_t nBoardNumber, std::vector<std::string> &aLines,
                 std::vector<KynPciListed> &aListed, std::string &strError)
{
    return KynPciListDevices(GivenText("--device"), GivenText("--ids"), (uint32_t)nBoardType, nBoardNumber, aLines, aListed,
                             strError);
}

// What selected the devices, as the user gave it: the option, else the setting.
std::string Selection(const KynPciBoardCheck &check, int32_t nBoardType)
{
    if (check.bBySlot)
        return GivenText("--device") != nullptr ? "--device " + Printable(GivenText("--device"))
                                                : "KYNPCI_DEVICE=" + Printable(check.strSelection);
    if (GivenText("--ids") != nullptr)
        return "--ids " + Printable(GivenText("--ids"));
    return "KYNPCI_IDS " + std::to_string(nBoardType) + "=" + Printable(check.strSelection);
}

std::string BoardProblem(int32_t nBoardType, uint32_t nBoardNumber)
{
    const char *const pszList = "duzedevazu-pci --list shows this machine's PCI devices";
    KynPciBoardCheck check = KynPciCheckBoard((uint32_t)nBoardType, nBoardNumber);
    std::string strSelection = Selection(check, nBoardType);
    std::string strFound = std::to_string(check.nFound) + " PCI devices (" + check.strSlots + ")";
    switch (check.eResult) {
    case kPciSelected:
        return "";
    case kPciNothingSelected:
        return "no PCI device is selected for board type " + std::to_string(nBoardType) + " number " +
               std::to_string(nBoardNumber) + ": name it with --device SLOT or --ids VENDOR:DEVICE, or set KYNPCI_DEVICE " +
               "or KYNPCI_IDS=" + std::to_string(nBoardType) + "=VENDOR:DEVICE; " + pszList;
    case kPciNoMatch:
        return strSelection + " matches no PCI device; " + pszList;
    case kPciTooFew:
        return "board number " + std::to_string(nBoardNumber) + " is asked for, but " + strSelection + " matches " +
               (check.nFound == 1 ? "1 PCI device (" + check.strSlots + "): give /B0" : strFound + ": give /B0 to /B" +
                std::to_string(check.nFound - 1));
    case kPciSeveral:
        return strSelection + " matches " + strFound + ": give the bus too; " + pszList;
    }
    return "";
}

// The command line's selection and image become the library's settings, before it reads them. The
// IDs stand for whichever board type the run opens (KYNPCI_IDS's code *); the command line's selection
// replaces the environment's, and --device wins over --ids. An image to run on becomes the tree, its
// device the slot.
int AfterOptions(const ToolOptions &)
{
    if (const char *pszSlot = GivenText("--device"))
        KynPciSetSetting("KYNPCI_DEVICE", pszSlot);
    if (const char *pszIds = GivenText("--ids"))
        KynPciSetSetting("KYNPCI_IDS", (std::string("*=") + pszIds).c_str());
    if (const char *pszImage = GivenText("--image"))
        KynPciSetSetting("KYNPCI_IMAGE", pszImage);
    std::string strImage = KynPciProgramSetting("KYNPCI_IMAGE");
    if (strImage.empty())
        return -1;
    const char *pszImage = strImage.c_str();
    std::string strSlot, strTree, strWhy;
    if (!PrepareBoardImage(pszImage, Given("--image-writable") != nullptr, strSlot, strTree, strWhy)) {
        fprintf(stderr, "Error: image %s refused: %s\n", Printable(pszImage).c_str(), Printable(strWhy).c_str());
        return 2;
    }
    // The image is an input for the whole run: a report or a save the run writes never lands in it.
    open(pszImage, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    KynPciSetSetting("KYNPCI_SYSFS", strTree.c_str());
    KynPciSetSetting("KYNPCI_DEVICE", strSlot.c_str());
    KynPciSetSetting("KYNPCI_ACCESS", "sysfs");
    return -1;
}

// The board map's registers that a save must not read: a read changes them, or they are write-only.
void SetUnreadRegisters(ImageSaveOptions &options)
{
    options.nBoardBar = KynPciBoardBar();
    const RegisterMap *pMap = RunMap(false);
    for (size_t i = 0; pMap != nullptr && i < pMap->aRegisters.size(); ++i) {
        const MapRegister &reg = pMap->aRegisters[i];
        if (!reg.bOnBoard || (reg.eAccess != kMapWriteOnly && reg.strReadAction.empty()))
            continue;
        std::string strWhy = reg.eAccess == kMapWriteOnly ? "write-only" : "a read changes it (" + reg.strReadAction + ")";
        uint64_t nEnd = (uint64_t)reg.nAddress + (reg.nBits + 7) / 8;
        for (uint64_t nWord = reg.nAddress & ~3u; nWord < nEnd && options.aUnread.size() < kUnreadWordsMax; nWord += 4)
            options.aUnread.push_back({(uint32_t)nWord, reg.strName, strWhy});
    }
}

// The device now against image pszBefore: the device saved into a scratch image first.
int CompareWithDevice(const char *pszBefore, uint32_t nType, uint32_t nNumber)
{
    std::string strWhy, strSlot;
    if (!CheckBoardImage(pszBefore, strSlot, strWhy)) {
        fprintf(stderr, "Error: image %s refused: %s\n", Printable(pszBefore).c_str(), Printable(strWhy).c_str());
        return 2;
    }
    std::string strScratch = MakeScratchDir("duzedevazu-compare");
    if (strScratch.empty()) {
        perror("Error: no scratch directory for the device's image");
        return 2;
    }
    ImageSaveOptions options = SaveOptions();
    options.bQuiet = true;
    options.bScratch = true;
    SetUnreadRegisters(options);
    int nStatus = SaveBoardImage((strScratch + "/device").c_str(), nType, nNumber, options);
    if (nStatus == 0)
        nStatus = CompareBoardImages(pszBefore, strScratch + "/device");
    else
        nStatus = 2;
    RemoveImageTree(strScratch);
    return nStatus;
}

// A device saved, or compared, where asked, instead of the run.
int BeforeStart(int32_t nBoardType, uint32_t nBoardNumber)
{
    RemovePrivateCopyAtExit();
    const ProgramValue *pCompare = Given("--compare");
    const char *pszInstead = pCompare != nullptr ? "--compare" : Given("--save-image") != nullptr ? "--save-image" : nullptr;
    // A save or a comparison is the run's whole work: operations beside it would never run, and a
    // write meant before a save or a comparison would silently be missing from it.
    if (pszInstead != nullptr && IsOneShot(g_toolOptions)) {
        fprintf(stderr, "Error: %s and operations (--read, --write, --batch, ...) do not go together: it is a run of its own; "
                        "give the operations in a run before it\n", pszInstead);
        return 2;
    }
    if (pCompare != nullptr && !pCompare->strOperand.empty())
        return CompareBoardImages(pCompare->strValue, pCompare->strOperand);
    if (pCompare != nullptr)
        return CompareWithDevice(pCompare->strValue.c_str(), (uint32_t)nBoardType, nBoardNumber);
    const char *pszSaveImage = GivenText("--save-image");
    if (pszSaveImage == nullptr)
        return -1;
    ImageSaveOptions options = SaveOptions();
    for (const char *pszMap : {g_toolOptions.pszMapFile, g_toolOptions.pszBridgeMapFile})
        if (pszMap != nullptr)
            options.aMaps.push_back(Printable(pszMap));
    SetUnreadRegisters(options);
    return SaveBoardImage(pszSaveImage, (uint32_t)nBoardType, nBoardNumber, options);
}

} // namespace

int main(int argc, char **argv)
{
    ProgramExtras extras{kOptions, sizeof kOptions / sizeof kOptions[0], kSettings};
    extras.pfnList = ListDevices;
    extras.pfnBoardProblem = BoardProblem;
    extras.pfnBeforeStart = BeforeStart;
    extras.pfnAfterOptions = AfterOptions;
    extras.bTextForEveryFailure = true;
    return RunTool(argc, argv, extras);
}
