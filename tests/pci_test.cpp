// pci_test.cpp - the tool over the PCI library, run as a user runs it: on a fake sysfs tree holding real
// devices' configuration bytes and files for their BARs, and on this machine's own devices, read only.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <linux/vfio.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_harness.h"
#include "expected_text.h"
#include "fake_sysfs.h"
#include "pci_internal.h"

namespace {

std::string KernelRelease()
{
    struct utsname names;
    uname(&names);
    return names.release;
}

std::string PciStartup(const std::string &strBoardNumber, const std::string &strOpened)
{
    return "Log file is  DuzeDevazu.log\nBoard number " + strBoardNumber +
           "\nLibrary version " DUZE_VERSION " (libpci " PCILIB_VERSION ") (filename libkynhwpci.a, static linked)\n"
           "Connecting lib...\nDriver version Linux " +
           KernelRelease() + " (sysfs sys)\nGet Handle to the board device...\nOpening Vesk-2-PCI board\n" + strOpened +
           "CPLD Build:\n  not available over the kernel's PCI interface\n\nPress 'h' for help\n";
}

const std::string kBoardStartup = PciStartup("1", "Board Device Handle = 0x00000020\nPlx Device Handle = 0x00000021\n"
                                                  "Read Serial Number to the board device...\n"
                                                  "Board Serial Number: 00-11-22-33-44-55-66-77\n"
                                                  "Board Build Number: revision 0x02 (0000:03:00.0, 1af4:1045)\n");
const std::string kWait = EXPECTED_QUESTION;

TEST(Pci, EveryCommandOnABoardAndExactlyOneAccessOfEachWidth)
{
    ToolCase toolCase = PciCase("R0x10\nW0x10\n0x11223344\nR0x10\nw0x21\n0x1AB\nr0x21\no0x22\n0xBEEF\ni0x22\n"
                                "p0\nS0x3C\n0x5A\np0x3C\nT0x019DB1DE\n0xD53E8000\n~0\nd0\nnq",
                                {{"KYNPCI_TRACE", "trace.txt"}});
    toolCase.aReadFiles = {"trace.txt", std::string(kBoard) + "/resource0", std::string(kBoard) + "/config"};
    ToolRun run = RunDuze(toolCase);
    const std::string kRead32 = "Read from a 32-bit register in the KYN Board device.\n";
    const std::string kBridgeRead = "Read from a 32-bit register in the PCI Bridge device.\n";
    std::string strBeforeSleep =
        kRead32 + "Which Address (0x0): Brd Address 0x10 = 0x00000000 (0 decimal)\n"
                  "Write to a 32-bit register in the KYN board device.\n"
                  "Which Address (0x0): Which Value (0x0): Wrote 11223344 to Brd Address 0x10\n" +
        kRead32 + "Which Address (0x10): Brd Address 0x10 = 0x11223344 (287454020 decimal)\n"
                  "Write to a 8-bit register in the KYN board device.\n"
                  "Which Address (0x0): Which Value (0x0): Wrote AB to Brd Address 0x21\n"
                  "Read from a 8-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x21 = 0xAB (171 decimal)\n"
                  "Write to a 16-bit register in the KYN board device.\n"
                  "Which Address (0x0): Which Value (0x0): Wrote BEEF to Brd Address 0x22\n"
                  "Read from a 16-bit register in the KYN Board device.\n"
                  "Which Address (0x0): Brd Address 0x22 = 0xBEEF (48879 decimal)\n" +
        kBridgeRead + "Which Address (0x0): Plx Address 0x0 = 0x10451AF4 (272964340 decimal)\n"
                      "Write to a 32-bit register in the PCI Bridge device.\n"
                      "Which Address (0x0): Which Value (0x0): Wrote 0000005A to PCI Bridge Address 0x3C\n" +
        kBridgeRead + "Which Address (0x0): Plx Address 0x3C = 0x0000005A (90 decimal)\n"
                      "Enter High 32-bit value of timestamp (0x00000000): Enter Low 32-bit value of timestamp "
                      "(0x00000000): 01-01 00:00:00.000 \n";
    std::string strAfterSleep = "Driver Debug Command. Which Cmd? [0x00000000] Issuing Driver Debug Command 0x00000000\n"
                                "ERROR(0X41 [2.5]) Dev(20,6,1): Debug commands are not supported by the PCI library "
                                "(command 0x0) \n" + kWait;
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strLog, kBoardStartup + strBeforeSleep + strAfterSleep);
    EXPECT_EQ(run.strConsole, kBanner + kBoardStartup + strBeforeSleep +
                                  "Enter milliseconds to sleep :Sleeping 0 milliseconds\n" + strAfterSleep);
    // Each command is one call of its width, and the BAR holds what each width wrote.
    EXPECT_EQ(TraceCalls(run, {"ReadReg", "WriteReg"}),
              "ReadReg32(0x20, 0x10) = 0 -> 0\nWriteReg32(0x20, 0x10, 0x11223344) = 0\n"
              "ReadReg32(0x20, 0x10) = 0 -> 0x11223344\nWriteReg8(0x20, 0x21, 0x1ab) = 0\nReadReg8(0x20, 0x21) = 0 -> 0xab\n"
              "WriteReg16(0x20, 0x22, 0xbeef) = 0\nReadReg16(0x20, 0x22) = 0 -> 0xbeef\n"
              "ReadReg32(0x21, 0) = 0 -> 0x10451af4\nWriteReg32(0x21, 0x3c, 0x5a) = 0\nReadReg32(0x21, 0x3c) = 0 -> 0x5a\n");
    const std::string &strBar = run.files[std::string(kBoard) + "/resource0"];
    ASSERT_EQ(strBar.size(), 1u << 20);
    EXPECT_EQ(strBar.substr(0x10, 0x14), "\x44\x33\x22\x11" + std::string(13, '\0') + "\xab\xef\xbe");
    EXPECT_EQ(run.files[std::string(kBoard) + "/config"].substr(0x3C, 4), std::string("\x5a\0\0\0", 4));
}

TEST(Pci, DumpShowsTheConfigurationSpaceAndAllOnesPastItsEnd)
{
    for (const char *pszBoard : {"/B0", "/B1"}) {
        ToolCase toolCase = PciCase("P", {}, {pszBoard});
        toolCase.aReadFiles = {std::string("sys/devices/") + (pszBoard[2] == '0' ? "0000:00:01.0" : "0000:03:00.0") + "/config"};
        ToolRun run = RunDuze(toolCase);
        const std::string &strConfig = run.files.begin()->second;
        std::string strDump = "Complete register dump from the PCI Bridge device.\n";
        for (uint32_t nAddress = 0; nAddress <= 0x1FC; nAddress += 4) {
            uint32_t nValue = 0xFFFFFFFFu;
            if (nAddress < strConfig.size())
                memcpy(&nValue, strConfig.data() + nAddress, 4);
            char szLine[80];
            snprintf(szLine, sizeof szLine, "Plx Address 0x%X = 0x%.8X (%d decimal)\n", nAddress, nValue, (int)nValue);
            strDump += szLine;
        }
        SCOPED_TRACE(pszBoard);
        EXPECT_EQ(run.nStatus, 0);
        EXPECT_EQ(run.strLog.substr(run.strLog.find("Complete")), strDump);
        // A 256-byte space has no extended part to look in for a serial number.
        EXPECT_NE(run.strLog.find(pszBoard[2] == '0' ? "Board Serial Number: not available: 0000:00:01.0 has no Device "
                                                        "Serial Number capability\n"
                                                      : "Board Serial Number: 00-11-22-33-44-55-66-77\n"),
                  std::string::npos)
            << run.strLog;
    }
}

// Every refusal names its cause: the register, the BAR, the driver, the setting to change.
// Puts devices of the fake tree in IOMMU group 7, as the kernel shows it, and binds the board to vfio-pci.
void GroupWithBalloon(const std::string &strDir)
{
    for (const char *pszSlot : {"0000:03:00.0", "0000:00:01.0"}) {
        std::string strGroup = strDir + "/sys/kernel/iommu_groups/7/devices";
        EXPECT_EQ(system(("mkdir -p " + strGroup).c_str()), 0);
        EXPECT_EQ(symlink(("../../../../devices/" + std::string(pszSlot)).c_str(), (strGroup + "/" + pszSlot).c_str()), 0);
        EXPECT_EQ(symlink("../../kernel/iommu_groups/7", (strDir + "/sys/devices/" + pszSlot + "/iommu_group").c_str()), 0);
    }
}

TEST(Pci, FailedAccessesNameTheirCause)
{
    struct {
        const char *pszName;
        std::map<std::string, std::string> env;
        std::vector<std::string> aArgs;
        std::string strKeys;
        std::string strError;
        void (*pfnTree)(const std::string &strDir) = nullptr; // changes the fake tree first
    } aCases[] = {
        {"past BAR0", {}, {"/B1"}, "R0x100000\n", "Dev(20,6,1): Register address 0x100000 is outside BAR0 (size 0x100000) of 0000:03:00.0"},
        {"wider than the rest of BAR0", {}, {"/B1"}, "i0xFFFFE\nR0xFFFFC\nR0xFFFFE\n", "Dev(20,6,1): Register address 0xFFFFE is not aligned to the 32-bit access width"},
        {"misaligned", {}, {"/B1"}, "i0x21\n", "Dev(20,6,1): Register address 0x21 is not aligned to the 16-bit access width"},
        {"past BAR2", {{"KYNPCI_BAR", "2"}}, {"/B1"}, "R0x4000\n", "Dev(20,6,1): Register address 0x4000 is outside BAR2 (size 0x4000) of 0000:03:00.0"},
        {"an I/O BAR", {{"KYNPCI_BAR", "1"}}, {"/B1"}, "R\n", "Dev(20,6,1): BAR1 of 0000:03:00.0 is an I/O-port BAR: set KYNPCI_BAR to a memory BAR"},
        {"a BAR not there", {{"KYNPCI_BAR", "5"}}, {"/B1"}, "w\n\n", "Dev(20,6,1): BAR5 of 0000:03:00.0 is not implemented: set KYNPCI_BAR to a BAR the device has"},
        {"no right to map", {{"LD_PRELOAD", HOST_SPY_PATH}, {"MMAP_REFUSED", "1"}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}},
         {"/B1"}, "R\n", "Dev(20,6,1): Mapping BAR0 of 0000:03:00.0 needs root, or a udev rule that lets you write sys/devices/0000:03:00.0/resource0"},
        {"held by a driver", {}, {"/B0"}, "R\n", "Dev(20,6,0): 0000:00:01.0 is held by the kernel driver virtio-pci: set KYNPCI_ALLOW_DRIVER=1 to map its BAR anyway"},
        {"no file for the BAR", {{"KYNPCI_ALLOW_DRIVER", "1"}}, {"/B0"}, "R\n", "Dev(20,6,0): The kernel offers no way to map BAR0 of 0000:00:01.0: sys/devices/0000:00:01.0/resource0: No such file or directory"},
        {"no memory BAR", {{"KYNPCI_DEVICE", "00:00.0"}}, {"/B0"}, "R\n", "Dev(20,6,0): 0000:00:00.0 has no memory BAR"},
        {"config write past the end", {{"KYNPCI_ALLOW_DRIVER", "1"}}, {"/B0"}, "S0x100\n5\n", "Dev(21,24,0): Configuration register 0x100 is past the end of the 256-byte configuration space of 0000:00:01.0"},
        {"config write, driver", {}, {"/B0"}, "p0x3C\nS0x3C\n5\n", "Dev(21,24,0): 0000:00:01.0 is held by the kernel driver virtio-pci: set KYNPCI_ALLOW_DRIVER=1 to write its configuration space anyway"},
        {"upper half of BAR2", {{"KYNPCI_BAR", "3"}}, {"/B1"}, "R\n", "Dev(20,6,1): BAR3 of 0000:03:00.0 is the upper half of the 64-bit BAR2: set KYNPCI_BAR=2"},
        // VFIO: each refusal before any file of /dev/vfio is opened.
        {"VFIO without an IOMMU", {{"KYNPCI_ACCESS", "vfio"}}, {"/B1"}, "p\n", "Dev(21,24,0): 0000:03:00.0 has no IOMMU group: the kernel runs without an IOMMU. Boot with intel_iommu=on (Intel) or amd_iommu=on (AMD), or load vfio with enable_unsafe_noiommu_mode=1 (no protection from the device's DMA)"},
        {"VFIO, not bound to vfio-pci", {{"KYNPCI_ACCESS", "vfio"}}, {"/B1"}, "R\n", "Dev(20,6,1): 0000:03:00.0 is not bound to vfio-pci (no driver): bind it with driverctl set-override 0000:03:00.0 vfio-pci, or set KYNPCI_ACCESS=sysfs", GroupWithBalloon},
        {"VFIO, a group a driver shares", {}, {"/B1"}, "R\n", "Dev(20,6,1): IOMMU group 7 of 0000:03:00.0 also holds 0000:00:01.0 (virtio-pci): bind every device of the group to vfio-pci, or unbind it",
         [](const std::string &strDir) {
             GroupWithBalloon(strDir);
             EXPECT_EQ(symlink("../../bus/pci/drivers/vfio-pci", (strDir + "/" + kBoard + "/driver").c_str()), 0);
         }},
        // Past every check a tree can answer: the group's number means nothing to this machine's /dev/vfio.
        {"VFIO in a tree not the kernel's", {{"KYNPCI_DEVICE", "03:00.0"}}, {"/B0"}, "R\n", "Dev(20,6,0): 0000:03:00.0 is in a tree that is not the kernel's (KYNPCI_SYSFS=sys): VFIO opens only devices of the kernel's own tree",
         [](const std::string &strDir) {
             GroupWithBalloon(strDir);
             unlink((strDir + "/sys/devices/0000:00:01.0/driver").c_str());
             EXPECT_EQ(symlink("../../bus/pci/drivers/vfio-pci", (strDir + "/" + kBoard + "/driver").c_str()), 0);
         }},
    };
    for (const auto &c : aCases) {
        ToolCase toolCase = PciCase(c.strKeys + "nnnq", c.env, c.aArgs);
        if (c.pfnTree != nullptr)
            toolCase.setUp = [&c](const std::string &strDir) { MakeTree(strDir, FakeTree()); c.pfnTree(strDir); };
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(run.nStatus, 0);
        size_t nAt = run.strLog.find("ERROR(");
        ASSERT_NE(nAt, std::string::npos) << run.strLog;
        EXPECT_EQ(run.strLog.substr(nAt + 18, run.strLog.find(" \n", nAt) - nAt - 18), c.strError);
    }
    // The board bound to vfio-pci, the balloon to its driver: the driver line names both ways.
    ToolCase toolCase = PciCase("q", {}, {"/B1"});
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        EXPECT_EQ(symlink("../../bus/pci/drivers/vfio-pci", (strDir + "/" + kBoard + "/driver").c_str()), 0);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_NE(run.strLog.find(" (sysfs sys, vfio /dev/vfio for devices bound to vfio-pci)\n"), std::string::npos) << run.strLog;
}

// When nothing matches, the open fails; the board's handle still answers every later call with the
// reason, naming the setting to use and the board type and number looked for.
// The device named on the command line, winning over the environment: --device over --ids, both
// over KYNPCI_*; each read of the configuration space's first word is the device's IDs.
TEST(Pci, DeviceAndIdsOnTheCommandLine)
{
    struct {
        std::map<std::string, std::string> env;
        std::vector<std::string> aArgs;
        int nStatus;
        std::string strOut, strErr;
    } aCases[] = {
        {{{"KYNPCI_IDS", "6=10b5:9054"}}, {"--device", "03:00.0", "--bridge-read", "0"}, 0, "0x10451AF4\n", ""},
        {{{"KYNPCI_DEVICE", "05:00.0"}}, {"/TE", "--ids", "1af4:1045", "/B1", "--bridge-read=0"}, 0, "0x10451AF4\n", ""},
        {{}, {"--device=0000:03:00.0", "--ids", "10b5:9054", "--bridge-read", "0"}, 0, "0x10451AF4\n", ""},
        {{}, {"--ids", "10b5:9054", "--bridge-read", "0"}, 1, "",
         "Error: --ids 10b5:9054 matches no PCI device; duzedevazu-pci --list shows this machine's PCI devices\n"},
        // Every form lspci -d and -s take: a vendor alone, with or without its colon, a device, a class, wildcards.
        {{}, {"--ids", "1af4", "/B1", "--bridge-read", "0"}, 0, "0x10451AF4\n", ""},
        {{}, {"--ids", ":1045", "/B1", "--bridge-read", "0"}, 0, "0x10451AF4\n", ""},
        {{}, {"--ids", "::0600", "--bridge-read", "0"}, 0, "0x0D578086\n", ""},
        {{}, {"--device", "03:*.0", "--bridge-read", "0"}, 0, "0x10451AF4\n", ""},
        {{}, {"--ids", "zz", "--read", "0"}, 2, "",
         "Error: --ids 'zz' is not [VENDOR][:DEVICE[:CLASS]] in hexadecimal, as lspci -d takes it (Invalid vendor ID)\n"},
        // A value of the tool's own option is never taken for the program's.
        {{}, {"--device", "03:00.0", "--bridge-read", "0", "--log", "--ids"}, 0, "0x10451AF4\n", ""},
        {{}, {"--read", "0", "--device"}, 2, "", "Error: --device needs SLOT\n"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.aArgs[1]);
        ToolRun run = RunDuze(PciCase("", c.env, c.aArgs));
        EXPECT_EQ(run.nStatus, c.nStatus);
        EXPECT_EQ(run.strConsole, c.strOut);
        EXPECT_EQ(run.strError, c.strErr);
    }
}

// A board that cannot be found ends the run at once, before its banner and log, with status 1 and a
// line that says why in words and what to give; a one-shot run the same.
TEST(Pci, ABoardWithNoDeviceSaysWhatToGive)
{
    const std::string kList = "; duzedevazu-pci --list shows this machine's PCI devices\n";
    const std::string kUnselected = "Error: no PCI device is selected for board type 6 number 0: name it with --device SLOT "
                                    "or --ids VENDOR:DEVICE, or set KYNPCI_DEVICE or KYNPCI_IDS=6=VENDOR:DEVICE" + kList;
    struct {
        std::map<std::string, std::string> env;
        std::vector<std::string> aArgs;
        std::string strError;
    } aCases[] = {
        {{{"KYNPCI_IDS", ""}}, {}, kUnselected},
        {{{"KYNPCI_IDS", "7=1af4:1045"}}, {}, kUnselected},
        {{{"KYNPCI_IDS", ""}}, {"--read", "0"}, kUnselected},
        {{}, {"/B2"}, "Error: board number 2 is asked for, but KYNPCI_IDS 6=1af4:1045 matches 2 PCI devices (0000:00:01.0, "
                      "0000:03:00.0): give /B0 to /B1\n"},
        {{}, {"/B1", "/T2", "--ids", "8086", "--read8", "0"}, "Error: board number 1 is asked for, but --ids 8086 matches 1 PCI "
                                                              "device (0000:00:00.0): give /B0\n"},
        {{{"KYNPCI_IDS", "6=10b5:9054"}}, {}, "Error: KYNPCI_IDS 6=10b5:9054 matches no PCI device" + kList},
        {{{"KYNPCI_DEVICE", "05:00.0"}}, {}, "Error: KYNPCI_DEVICE=05:00.0 matches no PCI device" + kList},
        {{}, {"--device", "0.0", "--dump"}, "Error: --device 0.0 matches 2 PCI devices (0000:00:00.0, 0000:03:00.0): give the "
                                            "bus too" + kList},
    };
    for (auto &c : aCases) {
        ToolCase toolCase = PciCase("q", c.env, c.aArgs);
        if (c.env.count("KYNPCI_IDS") != 0 && c.env["KYNPCI_IDS"].empty())
            toolCase.env.erase("KYNPCI_IDS");
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.strError);
        EXPECT_EQ(run.nStatus, 1);
        EXPECT_EQ(run.strConsole, "");
        EXPECT_EQ(run.strError, c.strError);
        EXPECT_FALSE(run.bLogExists);
    }
    // A tree libpci cannot list is the start-up's to report: the board's open fails with the library's text.
    ToolCase toolCase = PciCase("", {}, {"--read", "0"});
    // libpci's scan ends at its fatal error without closing what it opened, as it would end the
    // process: the sanitizer build is not to count that.
    toolCase.env["ASAN_OPTIONS"] = "detect_leaks=0";
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        mkdir((strDir + "/sys/devices/bogus").c_str(), 0755);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strError, "ERROR(0X25 [2.3]) The PCI devices under sys cannot be listed: sysfs_scan: Couldn't parse entry "
                            "name bogus \n");
}

TEST(Pci, MemoryTestOverTheBarAndPastItsEnd)
{
    ToolCase toolCase = PciCase("M0\n0x100000\n");
    toolCase.aReadFiles = {std::string(kBoard) + "/resource0"};
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strLog, kBoardStartup + "Memory Read/Write test.\nWhich Start Address (0x0): Which Range (in bytes) "
                                          "(0x0): Memory test finished. ErrorCount=0\n");
    const std::string &strBar = run.files[std::string(kBoard) + "/resource0"];
    ASSERT_EQ(strBar.size(), 1u << 20);
    bool bEveryWordItsOffset = true;
    for (uint32_t nOffset = 0; nOffset < strBar.size(); nOffset += 4) {
        uint32_t nWord = 0;
        memcpy(&nWord, strBar.data() + nOffset, 4);
        bEveryWordItsOffset = bEveryWordItsOffset && nWord == nOffset;
    }
    EXPECT_TRUE(bEveryWordItsOffset);

    // Two words inside, two past the end: each of those fails in both passes and is asked about.
    auto Outside = [](const char *pszAddress) {
        return std::string("ERROR(0X32 [2.4]) Dev(20,6,1): Register address ") + pszAddress +
               " is outside BAR0 (size 0x100000) of 0000:03:00.0 \nDo you want to exit (Y/N) ";
    };
    run = RunDuze(PciCase("M0xFFFF8\n16\nnnnnq"));
    EXPECT_EQ(run.nStatus, 3);
    EXPECT_EQ(run.strLog, kBoardStartup + "Memory Read/Write test.\nWhich Start Address (0x0): Which Range (in bytes) (0x0): " +
                              Outside("0x100000") + Outside("0x100004") + Outside("0x100000") +
                              "Memory error at Address 0x100000   (nReadVal(0xFFFFC) != nWriteVal(0x100000))\n" +
                              Outside("0x100004") +
                              "Memory error at Address 0x100004   (nReadVal(0xFFFFC) != nWriteVal(0x100004))\n"
                              "Memory test finished. ErrorCount=2\n");
    // Quiet: the first failed access ends the run.
    run = RunDuze(PciCase("", {}, {"/B1", "/Q", "/ZM0xFFFF8;16;q"}));
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strLog, kBoardStartup + "Memory Read/Write test.\nWhich Start Address (0x0): Which Range (in bytes) (0x0): " +
                              Outside("0x100000").substr(0, Outside("0x100000").size() - kWait.size()));
}

// Without the rights to map a BAR or to write the configuration space, the text says what is needed.
TEST(Pci, WithoutRightsTheTextSaysWhatIsNeeded)
{
    ToolCase toolCase = PciCase("R\nnS0x3C\n1\nnq");
    toolCase.bWithoutFileRights = true;
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        chmod((strDir + "/" + kBoard + "/resource0").c_str(), 0);
        chmod((strDir + "/" + kBoard + "/config").c_str(), 0444);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_NE(run.strLog.find("ERROR(0X37 [2.4]) Dev(20,6,1): Mapping BAR0 of 0000:03:00.0 needs root, or a udev rule "
                              "that lets you write sys/devices/0000:03:00.0/resource0 \n"),
              std::string::npos)
        << run.strLog;
    EXPECT_NE(run.strLog.find("ERROR(0X37 [2.4]) Dev(21,24,0): Writing the configuration space of 0000:03:00.0 needs "
                              "root, or a udev rule that lets you write sys/devices/0000:03:00.0/config \n"),
              std::string::npos)
        << run.strLog;
}

// No device the user did not select is opened: the others' configuration and BAR files see no open.
TEST(Pci, NoOtherDeviceIsOpened)
{
    int fdNotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(fdNotify, 0);
    ToolCase toolCase = PciCase("R\nW\n5\nP");
    toolCase.setUp = [fdNotify](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        for (const char *pszFile : {"0000:00:00.0/config", "0000:00:01.0/config", "0000:00:01.0/resource"})
            inotify_add_watch(fdNotify, (strDir + "/sys/devices/" + pszFile).c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY);
        inotify_add_watch(fdNotify, (strDir + "/" + kBoard + "/resource0").c_str(), IN_OPEN);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0);
    char acEvents[4096];
    ssize_t nRead = read(fdNotify, acEvents, sizeof acEvents);
    close(fdNotify);
    // Only the selected board's BAR file was opened, by its one mapping; the run's directory going
    // away ends the watches.
    std::string strEvents;
    for (ssize_t n = 0; n < nRead; n += (ssize_t)(sizeof(inotify_event) + ((inotify_event *)(acEvents + n))->len)) {
        const inotify_event *pEvent = (const inotify_event *)(acEvents + n);
        if ((pEvent->mask & IN_IGNORED) == 0)
            strEvents += "watch " + std::to_string(pEvent->wd) + " mask " + std::to_string(pEvent->mask) + "\n";
    }
    EXPECT_EQ(strEvents, "watch 4 mask " + std::to_string(IN_OPEN) + "\n");
}

TEST(Pci, MalformedSettingsStopTheRunNamingThem)
{
    struct {
        const char *pszName;
        const char *pszValue;
        const char *pszWhy;
        void (*pfnSpoil)(const std::string &strDir) = nullptr; // changes the fake tree first
    } aCases[] = {
        {"KYNPCI_IDS", "6", "'6' is not CODE=VENDOR:DEVICE[,VENDOR:DEVICE...] with a board type code"},
        {"KYNPCI_IDS", "6=1af4", "'1af4' is not VENDOR:DEVICE in hexadecimal, as lspci -d takes it"},
        {"KYNPCI_IDS", "6=1af4:1045;6=1af4:1041", "board type 6 is given twice"},
        {"KYNPCI_DEVICE", "03:00.0x", "'03:00.0x' is not [[DOMAIN:]BUS:][DEVICE][.FUNCTION], as lspci -s takes it (Invalid function number)"},
        {"KYNPCI_BAR", "6", "'6' is not a BAR number from 0 to 5"},
        {"KYNPCI_BAR", "\x1b[2J", "'\\e[2J' is not a BAR number from 0 to 5"},
        {"KYNPCI_SYSFS", "nowhere", "no directory nowhere/devices"},
        // A tree that is not the kernel's, which others may write or whose device files are links.
        {"KYNPCI_SYSFS", "sys", "group or others may write sys/devices (mode 0777)",
         [](const std::string &strDir) { chmod((strDir + "/sys/devices").c_str(), 0777); }},
        {"KYNPCI_SYSFS", "sys", "sys/devices/0000:03:00.0 belongs to user 1, neither root nor you",
         [](const std::string &strDir) { EXPECT_EQ(chown((strDir + "/" + kBoard).c_str(), 1, 1), 0); }},
        {"KYNPCI_SYSFS", "sys",
         "sys/devices/0000:03:00.0/resource0 is a link, and links are not followed in a tree that is not the kernel's",
         [](const std::string &strDir) {
             unlink((strDir + "/" + kBoard + "/resource0").c_str());
             EXPECT_EQ(symlink("../../../victim", (strDir + "/" + kBoard + "/resource0").c_str()), 0);
         }},
        {"KYNPCI_ALLOW_DRIVER", "yes", "'yes' is not 0 or 1"},
        {"KYNPCI_ENABLE", "2", "'2' is not 0 or 1"},
        {"KYNPCI_ACCESS", "VFIO", "'VFIO' is not auto, sysfs or vfio"},
        {"KYNPCI_IDS", "0x6=1af4:1045", "board type code '0x6' is not decimal"},
        {"KYNPCI_IDS", "99=1af4:1045", "no board type has code 99"},
        {"KYNPCI_TRACE", "nodir/trace.txt", "cannot create the file"},
        {"KYNPCI_TRACE", "trace.fifo", "it is a pipe that no program reads",
         [](const std::string &strDir) { EXPECT_EQ(mkfifo((strDir + "/trace.fifo").c_str(), 0600), 0); }},
        {"KYNPCI_CONF", "missing.conf", "the file cannot be read"},
        {"KYNPCI_TYPO", "1", "unknown setting"},
    };
    for (const auto &c : aCases) {
        if (strstr(c.pszWhy, "belongs to user") != nullptr && geteuid() != 0)
            continue; // only root can give a directory to another user
        ToolCase toolCase = PciCase("q", {{c.pszName, c.pszValue}});
        toolCase.setUp = [&c](const std::string &strDir) {
            MakeTree(strDir, FakeTree());
            if (c.pfnSpoil != nullptr)
                c.pfnSpoil(strDir);
        };
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(run.nStatus, 2);
        EXPECT_EQ(run.strConsole, "");
        // Control bytes of a value come out escaped.
        std::string strValue = c.pszValue[0] == '\x1b' ? std::string("\\e") + (c.pszValue + 1) : c.pszValue;
        EXPECT_EQ(run.strError, std::string("kynpci: bad setting ") + c.pszName + "=" + strValue + ": " + c.pszWhy + "\n");
        EXPECT_FALSE(run.bLogExists);
    }
}

// With too few file descriptors the tree is not blamed: the text says what the system said.
TEST(Pci, TooFewDescriptorsAreSaidSo)
{
    for (rlim_t nLimit : {4, 5}) {
        ToolCase toolCase = PciCase("", {}, {"--device", "03:00.0", "--bridge-read", "0"});
        toolCase.inChild = [nLimit] {
            // Descriptors the test runner left open would take places below the limit.
            close_range(3, ~0u, 0);
            struct rlimit limit = {nLimit, nLimit};
            setrlimit(RLIMIT_NOFILE, &limit);
        };
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(nLimit);
        EXPECT_EQ(run.nStatus, 2);
        // Which device's directory the listing meets first is the file system's order.
        const std::string kEnd = " cannot be opened: Too many open files\n";
        EXPECT_EQ(run.strError.substr(0, 42), nLimit == 4 ? "kynpci: bad setting KYNPCI_SYSFS=sys: sys " : "kynpci: bad setting KYNPCI_SYSFS=sys: sys/");
        ASSERT_GT(run.strError.size(), kEnd.size());
        EXPECT_EQ(run.strError.substr(run.strError.size() - kEnd.size()), kEnd);
    }
}

// A bridge map nested deep enough to overflow the parser's stack is refused before it is parsed.
TEST(Pci, ADeepBridgeMapIsRefusedNotACrash)
{
    ToolCase toolCase = PciCase("", {}, {"--bridge-map", "deep.svd", "--device", "03:00.0", "--bridge-read", "0"});
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        std::string strMap = "<device><peripherals>";
        for (int i = 0; i < 60000; ++i)
            strMap += "<a>";
        WriteFile(strDir + "/deep.svd", strMap);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_EQ(run.strError, "Error: register map deep.svd line 1: elements nested more than 64 deep: no register map nests "
                            "so deep\n");
}

// The log and the trace never empty a file the run reads: the settings file, the bridge map, a file
// of the tree (where a refused log is not left behind either).
TEST(Pci, ALogOrTraceNeverEmptiesTheSettingsMapOrTree)
{
    const std::string kInput = "a file the run reads (a register map, the settings file, or a file of the PCI tree)";
    const std::string kLog = "The log file is " + kInput + ": name another log.\n";
    struct {
        std::map<std::string, std::string> env;
        std::vector<std::string> aArgs;
        std::string strErr;
    } aCases[] = {
        {{}, {"--log", "kynpci.conf"}, "Couldn't open logfile kynpci.conf\n" + kLog},
        {{{"KYNPCI_TRACE", "kynpci.conf"}}, {}, "kynpci: bad setting KYNPCI_TRACE=kynpci.conf: it is " + kInput + "\n"},
        {{{"KYNPCI_TRACE", "bridge.svd"}}, {"--bridge-map", "bridge.svd"},
         "kynpci: bad setting KYNPCI_TRACE=bridge.svd: it is " + kInput + "\n"},
        {{}, {"--log", "sys/devices/0000:03:00.0/run.log"}, "Couldn't open logfile sys/devices/0000:03:00.0/run.log\n" + kLog},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.aArgs.empty() ? c.env.begin()->second : c.aArgs[1]);
        ToolCase toolCase = PciCase("", c.env, {"--device", "03:00.0", "--bridge-read", "0"});
        toolCase.aArgs.insert(toolCase.aArgs.end(), c.aArgs.begin(), c.aArgs.end());
        toolCase.env["KYNPCI_CONF"] = "kynpci.conf";
        toolCase.strLogName = "none";
        toolCase.aReadFiles = {"kynpci.conf", "bridge.svd", std::string(kBoard) + "/run.log"};
        toolCase.setUp = [](const std::string &strDir) {
            MakeTree(strDir, FakeTree());
            WriteFile(strDir + "/kynpci.conf", "KYNPCI_BAR=0\n");
            chmod((strDir + "/kynpci.conf").c_str(), 0600);
            WriteFile(strDir + "/bridge.svd", ReadFile(DUZE_SOURCE_DIR "/maps/pci-config.svd"));
        };
        ToolRun run = RunDuze(toolCase);
        EXPECT_EQ(run.nStatus, 2);
        EXPECT_EQ(run.strConsole, "");
        EXPECT_EQ(run.strError, c.strErr);
        EXPECT_EQ(run.files["kynpci.conf"], "KYNPCI_BAR=0\n");
        EXPECT_EQ(run.files["bridge.svd"], ReadFile(DUZE_SOURCE_DIR "/maps/pci-config.svd"));
        EXPECT_EQ(run.files[std::string(kBoard) + "/run.log"], "");
    }
}

// The settings file comes first; the environment wins where it says otherwise.
TEST(Pci, SettingsFileAndEnvironment)
{
    ToolCase toolCase = PciCase("q", {{"KYNPCI_CONF", "kynpci.conf"}}, {});
    toolCase.env.erase("KYNPCI_IDS");
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        WriteFile(strDir + "/kynpci.conf", "# board registers\n KYNPCI_IDS = 6=1af4:1045 \n\nKYNPCI_DEVICE=03:00.0\n");
    };
    std::string strStartup = kBoardStartup;
    EXPECT_EQ(RunDuze(toolCase).strLog, strStartup.replace(strStartup.find("Board number 1"), 14, "Board number 0"));
    toolCase.env["KYNPCI_DEVICE"] = "00:01.0";
    EXPECT_NE(RunDuze(toolCase).strLog.find("(0000:00:01.0, 1af4:1045)"), std::string::npos);
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        WriteFile(strDir + "/kynpci.conf", "KYNPCI_BAR=1\nKYNPCI_CONF=other\n");
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_EQ(run.strError, "kynpci: kynpci.conf line 2: 'KYNPCI_CONF=other' is not KYNPCI_NAME=VALUE (KYNPCI_CONF only "
                            "in the environment)\n");
}

// Who may have written the settings file, and which selection wins: a file others can change
// is not used; the environment's selection replaces the file's as a whole, and empty clears it.
TEST(Pci, SettingsFileRulesAndSelection)
{
    struct {
        const char *pszName;
        std::string strFile;
        unsigned nMode;
        unsigned nOwner;
        std::map<std::string, std::string> env;
        int nStatus;
        std::string strExpected; // standard error, or a text of the log
        bool bFifo = false;      // the file a FIFO that nobody writes to
    } aCases[] = {
        {"others may write", "KYNPCI_BAR=0\n", 0666, 0, {}, 2,
         "kynpci: settings file kynpci.conf is not used: group or others may write it (mode 0666)\n"},
        {"another user's", "KYNPCI_BAR=0\n", 0644, 1, {}, 2,
         "kynpci: settings file kynpci.conf is not used: it belongs to user 1, neither root nor you\n"},
        {"given twice", "KYNPCI_IDS=6=1af4:1045\nKYNPCI_IDS=6=1234:11e8\n", 0600, 0, {}, 2,
         "kynpci: kynpci.conf line 2: KYNPCI_IDS is given twice\n"},
        {"environment's IDs beat the file's slot", "KYNPCI_DEVICE=03:00.0\n", 0644, 0, {{"KYNPCI_IDS", "6=1af4:1045"}}, 0,
         "Board Build Number: revision 0x01 (0000:00:01.0, 1af4:1045)"},
        {"empty clears the file's slot", "KYNPCI_DEVICE=03:00.0\n", 0644, 0, {{"KYNPCI_DEVICE", ""}}, 1,
         "Error: no PCI device is selected for board type 6 number 0: name it with --device SLOT or --ids VENDOR:DEVICE, "
         "or set KYNPCI_DEVICE or KYNPCI_IDS=6=VENDOR:DEVICE; duzedevazu-pci --list shows this machine's PCI devices\n"},
        {"a FIFO", "", 0600, 0, {}, 2, "kynpci: settings file kynpci.conf is not used: it is not a regular file\n", true},
    };
    for (const auto &c : aCases) {
        ToolCase toolCase = PciCase("nnnnnnnq", c.env, {});
        if (c.env.count("KYNPCI_IDS") == 0)
            toolCase.env.erase("KYNPCI_IDS");
        toolCase.env["KYNPCI_CONF"] = "kynpci.conf";
        toolCase.setUp = [&c](const std::string &strDir) {
            MakeTree(strDir, FakeTree());
            if (c.bFifo)
                EXPECT_EQ(mkfifo((strDir + "/kynpci.conf").c_str(), 0600), 0);
            else
                WriteFile(strDir + "/kynpci.conf", c.strFile);
            chmod((strDir + "/kynpci.conf").c_str(), c.nMode);
            EXPECT_EQ(chown((strDir + "/kynpci.conf").c_str(), c.nOwner, 0), 0);
        };
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(run.nStatus, c.nStatus);
        if (c.nStatus != 0)
            EXPECT_EQ(run.strError, c.strExpected);
        else
            EXPECT_NE(run.strLog.find(c.strExpected), std::string::npos) << run.strLog;
    }
}

// The tree's root: a link another user planted in a sticky directory is not followed, and the tree
// checked at start is the one written, whatever its path names later.
TEST(Pci, TheTreeCheckedAtStartIsTheOneWritten)
{
    ToolCase toolCase = PciCase("q", {{"KYNPCI_SYSFS", "shared/sys"}});
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        mkdir((strDir + "/shared").c_str(), 01777);
        chmod((strDir + "/shared").c_str(), 01777);
        EXPECT_EQ(symlink((strDir + "/sys").c_str(), (strDir + "/shared/sys").c_str()), 0);
        EXPECT_EQ(lchown((strDir + "/shared/sys").c_str(), 1, 1), 0);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_EQ(run.strError, "kynpci: bad setting KYNPCI_SYSFS=shared/sys: it is a link that user 1 made in a directory "
                            "others may write: it is not followed\n");

    toolCase = PciCase("", {{"KYNPCI_SYSFS", "tree"}});
    toolCase.bStdinPipe = true;
    toolCase.aReadFiles = {std::string(kBoard) + "/resource0", "other/" + std::string(kBoard) + "/resource0"};
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        mkdir((strDir + "/other").c_str(), 0755);
        MakeTree(strDir + "/other", FakeTree());
        EXPECT_EQ(symlink("sys", (strDir + "/tree").c_str()), 0);
    };
    ToolProcess process = StartDuze(toolCase);
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(process.strOut).find("Press 'h' for help") != std::string::npos; }));
    EXPECT_EQ(symlink("other/sys", (process.strDir + "/tree.new").c_str()), 0);
    EXPECT_EQ(rename((process.strDir + "/tree.new").c_str(), (process.strDir + "/tree").c_str()), 0);
    std::string strKeys = "W0x10\n0xDEADBEEF\nq";
    EXPECT_EQ(write(process.fdStdin, strKeys.data(), strKeys.size()), (ssize_t)strKeys.size());
    close(process.fdStdin);
    run = FinishDuze(process);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.files[std::string(kBoard) + "/resource0"].substr(0x10, 4), "\xef\xbe\xad\xde");
    EXPECT_EQ(run.files["other/" + std::string(kBoard) + "/resource0"].substr(0x10, 4), std::string(4, '\0'));
}

// The trace file is opened as the log is: not through a link another user planted in a sticky
// directory others may write, and never the tool's own output.
TEST(Pci, TraceFileIsNotOpenedThroughAPlantedLink)
{
    ToolCase toolCase = PciCase("q", {{"KYNPCI_TRACE", "shared/trace.txt"}});
    toolCase.aReadFiles = {"victim"};
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        WriteFile(strDir + "/victim", "root's file");
        mkdir((strDir + "/shared").c_str(), 01777);
        chmod((strDir + "/shared").c_str(), 01777);
        EXPECT_EQ(symlink((strDir + "/victim").c_str(), (strDir + "/shared/trace.txt").c_str()), 0);
        EXPECT_EQ(lchown((strDir + "/shared/trace.txt").c_str(), 1, 1), 0);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_EQ(run.strError, "kynpci: bad setting KYNPCI_TRACE=shared/trace.txt: it is a link that user 1 made in a "
                            "directory others may write: it is not followed\n");
    EXPECT_EQ(run.files["victim"], "root's file");
    toolCase = PciCase("q", {{"KYNPCI_TRACE", "out.txt"}});
    toolCase.strStdoutPath = "out.txt";
    run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_EQ(run.strError, "kynpci: bad setting KYNPCI_TRACE=out.txt: it is the tool's standard output\n");
    toolCase = PciCase("q", {{"KYNPCI_TRACE", "in.txt"}});
    toolCase.strStdinPath = "in.txt";
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        WriteFile(strDir + "/in.txt", "q");
    };
    EXPECT_EQ(RunDuze(toolCase).strError, "kynpci: bad setting KYNPCI_TRACE=in.txt: it is the tool's standard input\n");
    // A link on the trace's path is judged as the file's own; the trace is never the log.
    toolCase = PciCase("q", {{"KYNPCI_TRACE", "shared/dir/trace.txt"}});
    toolCase.setUp = [](const std::string &strDir) {
        MakeTree(strDir, FakeTree());
        mkdir((strDir + "/shared").c_str(), 01777);
        chmod((strDir + "/shared").c_str(), 01777);
        EXPECT_EQ(symlink(strDir.c_str(), (strDir + "/shared/dir").c_str()), 0);
        EXPECT_EQ(lchown((strDir + "/shared/dir").c_str(), 1, 1), 0);
    };
    run = RunDuze(toolCase);
    EXPECT_EQ(run.strError, "kynpci: bad setting KYNPCI_TRACE=shared/dir/trace.txt: its directory shared/dir is a link "
                            "that user 1 made in a directory others may write: it is not followed\n");
    EXPECT_FALSE(ReadFile(run.strDir + "/trace.txt", nullptr).size() > 0);
    run = RunDuze(PciCase("q", {{"KYNPCI_TRACE", "DuzeDevazu.log"}}));
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_NE(run.strConsole.find("Couldn't open logfile DuzeDevazu.log\nThe log file is the library's call trace, "
                                  "or another file the run writes: name another log with /L.\n"),
              std::string::npos)
        << run.strConsole;
}

// A board whose 256-byte BAR0 starts 2 KiB into a page, as small BARs may: the file maps from the
// page, and the registers are at the BAR's own offset in it. Command register as given.
FakeDevice SmallBarBoard(const char *pszCommand, const std::string &strDriver = "")
{
    std::string strNoBars;
    for (int i = 0; i < 6; ++i)
        strNoBars += kNoBars;
    return {"0000:04:00.0", "0x1234", "0x11e8",
            ConfigBytes({{0x000, "3412e811"}, {0x004, pszCommand}, {0x008, "10"}}, 256),
            "0x00000000fe200800 0x00000000fe2008ff 0x0000000000040200\n" + strNoBars, {{0, 4096}}, strDriver};
}

TEST(Pci, SmallBarsAndMemoryDecoding)
{
    const char *const kSmall = "sys/devices/0000:04:00.0";
    struct {
        const char *pszName;
        const char *pszCommand;
        std::string strDriver;
        std::map<std::string, std::string> env;
        std::string strError; // "" when the writes work
    } aCases[] = {
        {"BAR inside a page", "0200", "", {}, ""},
        {"decoding off", "0000", "", {}, "Memory decoding of 0000:04:00.0 is off (Memory Space clear in its Command register, enable 0): set KYNPCI_ENABLE=1 to turn it on as a driver would"},
        {"enabled, still off", "0000", "", {{"KYNPCI_ENABLE", "1"}}, "Memory decoding of 0000:04:00.0 is still off after writing 1 to sys/devices/0000:04:00.0/enable"},
        {"not for a driver's device", "0000", "pci-stub", {{"KYNPCI_ENABLE", "1"}, {"KYNPCI_ALLOW_DRIVER", "1"}}, "Memory decoding of 0000:04:00.0 is off, and KYNPCI_ENABLE=1 does not enable a device the kernel driver pci-stub holds"},
    };
    for (const auto &c : aCases) {
        ToolCase toolCase = PciCase("W0x10\n0x11223344\nnw0xFF\n0x5A\nnR0x100\nnq", c.env, {});
        toolCase.env["KYNPCI_DEVICE"] = "04:00.0";
        toolCase.aReadFiles = {std::string(kSmall) + "/resource0", std::string(kSmall) + "/enable"};
        toolCase.setUp = [&c, kSmall](const std::string &strDir) {
            std::vector<FakeDevice> aDevices = FakeTree();
            aDevices.push_back(SmallBarBoard(c.pszCommand, c.strDriver));
            MakeTree(strDir, aDevices);
            WriteFile(strDir + "/" + kSmall + "/enable", "0\n");
        };
        ToolRun run = RunDuze(toolCase);
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(run.nStatus, 0);
        const std::string &strBar = run.files[std::string(kSmall) + "/resource0"];
        std::string strExpected(4096, '\0');
        if (c.strError.empty()) {
            strExpected.replace(0x810, 4, "\x44\x33\x22\x11");
            strExpected[0x8FF] = '\x5A';
            EXPECT_NE(run.strLog.find("Dev(20,6,0): Register address 0x100 is outside BAR0 (size 0x100) of 0000:04:00.0"),
                      std::string::npos) << run.strLog;
        } else {
            EXPECT_NE(run.strLog.find("ERROR(0X3A [2.4]) Dev(20,6,0): " + c.strError + " \n"), std::string::npos) << run.strLog;
        }
        EXPECT_EQ(strBar, strExpected);
        EXPECT_EQ(run.files[std::string(kSmall) + "/enable"], c.env.count("KYNPCI_ENABLE") != 0 && c.strDriver.empty() ? "1\n" : "0\n");
    }
}

// A BAR that goes away under the tool (here its file shrinks; on a machine the device is removed)
// fails the access that met it and every later one, on the fast path and the checked one alike.
TEST(Pci, ABarThatGoesAwayFailsItsAccessesNotTheRun)
{
    for (bool bQuiet : {false, true}) {
        ToolCase toolCase = PciCase("R0x10\n", {}, bQuiet ? std::vector<std::string>{"/B1", "/Q"} : std::vector<std::string>{"/B1"});
        toolCase.bStdinPipe = true;
        ToolProcess process = StartDuze(toolCase);
        std::string strLog = process.strDir + "/DuzeDevazu.log";
        EXPECT_TRUE(WaitUntil([&] { return ReadFile(strLog).find("Brd Address 0x10") != std::string::npos; }));
        EXPECT_EQ(truncate((process.strDir + "/" + kBoard + "/resource0").c_str(), 0), 0);
        const char *pszKeys = "R0x10\nnW0x10\n5\nnq";
        EXPECT_EQ(write(process.fdStdin, pszKeys, strlen(pszKeys)), (ssize_t)strlen(pszKeys));
        ToolRun run = FinishDuze(process);
        const std::string kGone = "ERROR(0X3B [2.4]) Dev(20,6,1): BAR0 of 0000:03:00.0 went away during the access: the "
                                  "device was removed, or its resource file shrank \n";
        std::string strAfter = "Read from a 32-bit register in the KYN Board device.\nWhich Address (0x10): " + kGone;
        if (!bQuiet)
            strAfter += kWait + "Brd Address 0x10 = 0x00000000 (0 decimal)\nWrite to a 32-bit register in the KYN board "
                        "device.\nWhich Address (0x0): Which Value (0x0): " + kGone + kWait + "Wrote 00000005 to Brd Address 0x10\n";
        SCOPED_TRACE(bQuiet);
        EXPECT_EQ(run.nStatus, bQuiet ? 1 : 0);
        EXPECT_EQ(run.strLog.substr(run.strLog.find("Press 'h'")),
                  "Press 'h' for help\nRead from a 32-bit register in the KYN Board device.\nWhich Address (0x0): "
                  "Brd Address 0x10 = 0x00000000 (0 decimal)\n" + strAfter);
    }
}

// The output of a command, or "" where it cannot run.
std::string CommandOutput(const std::string &strCommand)
{
    std::string strOut;
    if (FILE *pPipe = popen(strCommand.c_str(), "r")) {
        char szLine[512];
        while (fgets(szLine, sizeof szLine, pPipe) != nullptr)
            strOut += szLine;
        pclose(pPipe);
    }
    return strOut;
}

// The slots at the start of each line but the first (a header), as a set.
std::set<std::string> SlotsOf(const std::string &strLines, bool bHeader)
{
    std::set<std::string> slots;
    std::istringstream lines(strLines);
    std::string strLine;
    for (bool bFirst = true; std::getline(lines, strLine); bFirst = false)
        if (!(bFirst && bHeader) && !strLine.empty())
            slots.insert(strLine.substr(0, strLine.find(' ')));
    return slots;
}

// --list: every function of the tree once, with what a bench engineer needs to choose one; the filters
// select what lspci's select on the same tree.
// More functions than any bench has, of one board's IDs: every one is listed, and board numbers count
// in bus order, however libpci found them.
TEST(Pci, EveryMatchingFunctionIsListedInBusOrder)
{
    ToolCase toolCase = PciCase("", {}, {"--list", "--ids", "1af4:1045"});
    toolCase.setUp = [](const std::string &strDir) {
        std::vector<FakeDevice> aDevices = FakeTree();
        for (int i = 0; i < 300; ++i) {
            char szSlot[16];
            snprintf(szSlot, sizeof szSlot, "0000:%02x:%02x.%x", 0x10 + i / 64, (i / 8) % 8, i % 8);
            aDevices.push_back({szSlot, "0x1af4", "0x1045", ConfigBytes(kBalloon, 256), kNoBars, {}, ""});
        }
        MakeTree(strDir, aDevices);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0) << run.strError;
    std::vector<std::string> aLines = Lines(run.strConsole);
    ASSERT_EQ(aLines.size(), 303u); // the header, the balloon, the board on bus 3, the 300
    EXPECT_EQ(aLines[1].substr(0, 35), "0000:00:01.0  1af4:1045  ffff   6/0");
    EXPECT_EQ(aLines[302].substr(0, 37), "0000:14:05.3  1af4:1045  ffff   6/301");
}

// A BAR whose resource line spans the whole 64-bit space is said to be none, not saved as a BAR of 0
// bytes with a stale reason.
TEST(Pci, ABarOverTheWhole64BitSpaceIsSaidToBeNone)
{
    ToolCase toolCase = PciCase("", {}, {"/B1", "--save-image", "img"});
    toolCase.setUp = [](const std::string &strDir) {
        std::vector<FakeDevice> aDevices = FakeTree();
        std::string &strResource = aDevices[2].strResource;
        strResource = "0x0000000000000000 0xffffffffffffffff 0x0000000000040200" + strResource.substr(strResource.find('\n'));
        MakeTree(strDir, aDevices);
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0) << run.strError;
    EXPECT_EQ(run.strError.substr(0, run.strError.find('\n') + 1),
              "Warning: BAR0: its resource line spans the whole 64-bit space: no BAR does\n");
}

TEST(Pci, ListShowsEachDeviceOnceAndFiltersAsLspci)
{
    std::string strTree;
    auto setUp = [&strTree](const std::string &strDir) {
        std::vector<FakeDevice> aDevices = FakeTree();
        // A Xilinx card bound to vfio-pci in IOMMU group 12, its 64-bit prefetchable BAR0 of 16 MiB.
        std::string strNoBars;
        for (int i = 0; i < 6; ++i)
            strNoBars += kNoBars;
        aDevices.push_back({"0000:05:00.1", "0x10ee", "0x7024", ConfigBytes({{0, "ee102470"}}, 256),
                            "0x00000000f0000000 0x00000000f0ffffff 0x000000000014220c\n" + strNoBars, {{0, 4096}},
                            "vfio-pci", "0x058000"});
        MakeTree(strDir, aDevices);
        EXPECT_EQ(symlink("../../../kernel/iommu_groups/12", (strDir + "/sys/devices/0000:05:00.1/iommu_group").c_str()), 0);
        strTree = strDir + "/sys";
    };
    std::string strLspci;
    ToolCase toolCase = PciCase("", {}, {"--list", "/B1"});
    toolCase.setUp = setUp;
    // The names from pci.ids, as the tool takes them (not udev's hwdb, which may be older or newer).
    toolCase.tearDown = [&](const std::string &) {
        strLspci = CommandOutput("lspci -A linux-sysfs -O sysfs.path=" + strTree + " -O hwdb.disable=1 -D");
    };
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0) << run.strError;
    // The names come from this machine's ID database, as lspci shows them: compared apart.
    std::vector<std::string> aExpected = {
        "Slot          IDs        Class  Board    Driver        IOMMU  Way in | BARs | Name",
        "0000:00:00.0  8086:0d57  0600   -        -             -      none: no memory BAR | no BARs",
        "0000:00:01.0  1af4:1045  ffff   6/0      virtio-pci    -      none: held by virtio-pci (KYNPCI_ALLOW_DRIVER=1) | "
        "BAR0 mem64 512K",
        "0000:03:00.0  1af4:1045  ffff   6/1      -             -      sysfs | BAR0 mem 1M, BAR1 io 256, BAR2 mem64 16K",
        "0000:05:00.1  10ee:7024  0580   -        vfio-pci      12     vfio | BAR0 mem64 prefetchable 16M",
    };
    std::istringstream lines(run.strConsole);
    std::string strLine;
    size_t nLines = 0;
    for (; std::getline(lines, strLine); ++nLines) {
        ASSERT_LT(nLines, aExpected.size()) << strLine;
        size_t nNames = nLines == 0 ? strLine.size() : strLine.rfind(" | ");
        EXPECT_EQ(strLine.substr(0, nNames), aExpected[nLines]);
        std::string strNames = nLines == 0 ? "-" : strLine.substr(nNames + 3);
        // lspci's line of the slot: "0000:03:00.0 Unclassified device [00ff]: Red Hat, Inc. ... (rev 02)".
        size_t nSlot = strLspci.find(strLine.substr(0, 13));
        if (strNames != "-") {
            ASSERT_NE(nSlot, std::string::npos) << strLspci;
            EXPECT_EQ(strLspci.substr(nSlot + 13, strNames.size()), strNames);
        }
    }
    EXPECT_EQ(nLines, aExpected.size());
    // Each filter form, beside the lspci arguments that select the same.
    struct {
        std::vector<std::string> aArgs;
        std::string strLspci;
    } aFilters[] = {
        {{"--ids", "1af4"}, "-d 1af4:"},       {{"--ids", "1af4:"}, "-d 1af4:"},
        {{"--ids", ":7024"}, "-d :7024"},      {{"--ids", "::0600"}, "-d ::0600"},
        {{"--ids", "10ee:7024:0580"}, "-d 10ee:7024:0580"},
        {{"--device", "*.0"}, "-s '*.0'"},     {{"--device", "00:"}, "-s 00:"},
        {{"--device", "0000:05:00.1"}, "-s 0000:05:00.1"},
        {{"--device", "*.0", "--ids", "1af4"}, "-s '*.0' -d 1af4:"},
    };
    for (const auto &filter : aFilters) {
        ToolCase filtered = PciCase("", {}, filter.aArgs);
        filtered.aArgs.push_back("--list");
        filtered.setUp = setUp;
        std::set<std::string> expected;
        filtered.tearDown = [&](const std::string &) {
            expected = SlotsOf(CommandOutput("lspci -A linux-sysfs -O sysfs.path=" + strTree + " -D " + filter.strLspci), false);
        };
        ToolRun listed = RunDuze(filtered);
        SCOPED_TRACE(filter.strLspci);
        EXPECT_EQ(listed.nStatus, 0);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(SlotsOf(listed.strConsole, true), expected);
    }
    // --json: a record a device, the table's fields by name, those it shows as - left out; the names
    // (this machine's ID database) cut off before comparing.
    ToolCase jsonCase = PciCase("", {}, {"--list", "/B1", "--json", "--ids", "::0600"});
    jsonCase.setUp = setUp;
    ToolRun json = RunDuze(jsonCase);
    EXPECT_EQ(json.nStatus, 0) << json.strError;
    std::string strRecords;
    std::istringstream records(json.strConsole);
    while (std::getline(records, strLine)) {
        size_t nName = strLine.find(",\"name\":\"");
        if (nName != std::string::npos)
            strLine.erase(nName, strLine.find('"', nName + 9) + 1 - nName);
        strRecords += strLine + "\n";
    }
    EXPECT_EQ(strRecords,
              "{\"bars\":[],\"board\":\"6/0\",\"class\":\"0600\",\"ids\":\"8086:0d57\",\"op\":\"list\",\"slot\":\"0000:00:00.0\","
              "\"version\":2,\"way_in\":\"none: no memory BAR\"}\n");
    jsonCase.aArgs = {"--list", "/B1", "--json", "--ids", "1af4:1045"};
    json = RunDuze(jsonCase);
    EXPECT_EQ(json.nStatus, 0) << json.strError;
    EXPECT_NE(json.strConsole.find("{\"bars\":[{\"address\":4261412864,\"kind\":\"mem\",\"number\":0,\"prefetchable\":false,\"size\":1048576},"
                                    "{\"address\":57344,\"kind\":\"io\",\"number\":1,\"prefetchable\":false,\"size\":256},"
                                    "{\"address\":4262461440,\"kind\":\"mem64\",\"number\":2,\"prefetchable\":false,\"size\":16384}],"
                                    "\"board\":\"6/1\",\"class\":\"ffff\","
                                   "\"ids\":\"1af4:1045\","),
              std::string::npos)
        << json.strConsole;
}

// The configuration space as lspci -xxx shows it, which lspci -F reads back; board registers the same
// way; a script's read past the end of the configuration space refused as setpci refuses it.
TEST(Pci, HexDumpsAndTheEndOfTheConfigurationSpace)
{
    ToolCase dumpCase = PciCase("", {}, {"/B1", "--bridge-hexdump", "--log", "dump.log"});
    dumpCase.strLogName = "dump.log";
    ToolRun run = RunDuze(dumpCase);
    EXPECT_EQ(run.nStatus, 0) << run.strError;
    std::string strConfig = ConfigBytes(PcieBoard(), 4096);
    std::string strExpected = "0000:03:00.0 ffff: 1af4:1045 (rev 02)\n";
    for (size_t nOffset = 0; nOffset < 4096; nOffset += 16) {
        char szLine[64];
        snprintf(szLine, sizeof szLine, "%02zx:", nOffset);
        strExpected += szLine;
        for (size_t i = 0; i < 16; ++i) {
            snprintf(szLine, sizeof szLine, " %02x", (unsigned)(uint8_t)strConfig[nOffset + i]);
            strExpected += szLine;
        }
        strExpected += "\n";
    }
    EXPECT_EQ(run.strConsole, strExpected + "\n");
    EXPECT_EQ(run.strLog.substr(run.strLog.find("0000:03:00.0 ffff")), strExpected + "\n");
    // lspci reads it back as a dump.
    char szDump[] = "/tmp/duze-hexdump-XXXXXX";
    int fdDump = mkstemp(szDump);
    ASSERT_GE(fdDump, 0);
    close(fdDump);
    WriteFile(szDump, run.strConsole);
    EXPECT_EQ(CommandOutput(std::string("lspci -n -F ") + szDump), "03:00.0 ffff: 1af4:1045 (rev 02)\n");
    unlink(szDump);
    struct {
        std::vector<std::string> aArgs;
        int nStatus;
        std::string strOut, strErr;
    } aCases[] = {
        {{"/B1", "--hexdump", "0x10:0x18"}, 0, "0000:03:00.0 board registers 0x10 to 0x27\n00: 00 00 00 00 00 00 00 00 00 00 00 "
                                               "00 00 00 00 00\n10: 00 00 00 00 00 00 00 00\n\n", ""},
        {{"/B0", "--bridge-read", "0xFC"}, 0, "0x00000000\n", ""},
        {{"/B0", "--write", "0=1", "--bridge-read", "0x100"}, 1, "",
         "Error: Bridge register 0x100 is past the end of the bridge's 256 bytes of registers (its configuration space)\n"},
        {{"/B1", "--bridge-read", "0x1000"}, 1, "",
         "Error: Bridge register 0x1000 is past the end of the bridge's 4096 bytes of registers (its configuration space)\n"},
        {{"/B1", "--hexdump", "2:4"}, 2, "", "Error: --hexdump '2:4': START and LENGTH must be multiples of 4 (32-bit "
                                            "registers), LENGTH not 0\n"},
        {{"/B1", "--hexdump", "0xFFFFFFFC:8"}, 2, "", "Error: --hexdump '0xFFFFFFFC:8': the range ends past 0xFFFFFFFF\n"},
        {{"/B1", "--hexdump", "16"}, 2, "", "Error: --hexdump '16': not START:LENGTH, two numbers of 32 bits (0x "
                                           "hexadecimal, 0 octal, else decimal)\n"},
        // Past the BAR: the first read that fails ends the run, as any one-shot access.
        {{"/B1", "--hexdump", "0xFFFF0:0x20"}, 1, "0000:03:00.0 board registers 0xFFFF0 to 0x10000F\n00: 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00\n", "ERROR(0X32 [2.4]) Dev(20,6,1): Register address 0x100000 is outside BAR0 (size 0x100000) of 0000:03:00.0 \n"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.aArgs[1] + " " + c.aArgs[2]);
        ToolRun one = RunDuze(PciCase("", {{"KYNPCI_ALLOW_DRIVER", "1"}}, c.aArgs));
        EXPECT_EQ(one.nStatus, c.nStatus);
        EXPECT_EQ(one.strConsole, c.strOut);
        EXPECT_EQ(one.strError, c.strErr);
    }
}

// This machine's own devices, read only: the tool's dump of the first one's configuration space
// shows the bytes lspci -xxx shows for it.
TEST(PciRealDevice, DumpEqualsLspci)
{
    FILE *pList = popen("ls /sys/bus/pci/devices 2>/dev/null | head -n 1", "r");
    char szSlot[64] = "";
    if (pList == nullptr || fgets(szSlot, sizeof szSlot, pList) == nullptr) {
        if (pList != nullptr)
            pclose(pList);
        GTEST_SKIP() << "no PCI devices in /sys/bus/pci/devices";
    }
    pclose(pList);
    szSlot[strcspn(szSlot, "\n")] = '\0';
    FILE *pLspci = popen((std::string("lspci -xxx -s ") + szSlot + " 2>/dev/null").c_str(), "r");
    std::string strBytes;
    char szLine[256];
    while (pLspci != nullptr && fgets(szLine, sizeof szLine, pLspci) != nullptr) {
        unsigned nOffset = 0;
        int nUsed = 0;
        // Byte lines only ("00: 86 80 ..."), not the device's title line ("00:00.0 Host bridge: ...").
        if (sscanf(szLine, "%x:%n", &nOffset, &nUsed) != 1 || szLine[nUsed] != ' ' || nOffset != strBytes.size())
            continue;
        for (const char *p = szLine + nUsed; strBytes.size() < nOffset + 16u; p += 3)
            strBytes += (char)strtoul(std::string(p + 1, 2).c_str(), nullptr, 16);
    }
    if (pLspci != nullptr)
        pclose(pLspci);
    if (strBytes.size() < 256)
        GTEST_SKIP() << "lspci shows " << strBytes.size() << " bytes of " << szSlot
                     << " (none without pciutils, 64 without root): reading it is refused here";
    ToolCase toolCase;
    toolCase.aArgs = {"/ZPq"};
    toolCase.env = {{"KYNPCI_DEVICE", szSlot}, {"KYNPCI_CONF", "/dev/null"}};
    ToolRun run = RunDuze(toolCase);
    EXPECT_EQ(run.nStatus, 0) << run.strLog;
    std::string strDumped;
    for (size_t nAt = run.strLog.find("Plx Address 0x"); nAt != std::string::npos && strDumped.size() < 256;
         nAt = run.strLog.find("Plx Address 0x", nAt + 1)) {
        unsigned nAddress = 0, nValue = 0;
        ASSERT_EQ(sscanf(run.strLog.c_str() + nAt, "Plx Address 0x%X = 0x%X", &nAddress, &nValue), 2);
        ASSERT_EQ(nAddress, strDumped.size());
        for (int i = 0; i < 4; ++i)
            strDumped += (char)(nValue >> (8 * i));
    }
    EXPECT_EQ(strDumped, strBytes.substr(0, 256)) << szSlot;
    // The hex dump's byte lines are lspci -xxx's, character for character.
    ToolCase hexCase;
    hexCase.aArgs = {"--bridge-hexdump"};
    hexCase.env = {{"KYNPCI_DEVICE", szSlot}, {"KYNPCI_CONF", "/dev/null"}};
    ToolRun hex = RunDuze(hexCase);
    EXPECT_EQ(hex.nStatus, 0) << hex.strError;
    std::string strLspci = CommandOutput(std::string("lspci -xxx -s ") + szSlot);
    ASSERT_NE(strLspci.find("\n00: "), std::string::npos);
    std::string strLines = strLspci.substr(strLspci.find("\n00: ") + 1, 16 * 52);
    ASSERT_NE(hex.strConsole.find("\n00: "), std::string::npos) << hex.strConsole;
    EXPECT_EQ(hex.strConsole.substr(hex.strConsole.find("\n00: ") + 1, 16 * 52), strLines);
}

// The settings parsers, without a run: forms lspci takes, and what they refuse.

} // namespace

// Board images: the board saved (never written), replayed as the device, its writes kept off the
// image unless --image-writable, lspci -F reading its config.txt; images that lie refused.
TEST(Pci, BoardImagesSaveReplayAndRefuseWhatDoesNotMatch)
{
    ToolCase saveCase = PciCase("", {}, {"/B1", "--save-image", "img", "--image-limit", "64K", "--image-bars", "0"});
    char szDir[] = "/tmp/duze-image-XXXXXX";
    ASSERT_NE(mkdtemp(szDir), nullptr);
    saveCase.strDir = szDir;
    ToolRun saved = RunDuze(saveCase);
    ASSERT_EQ(saved.nStatus, 0) << saved.strError;
    EXPECT_EQ(saved.strConsole, "Saved 0000:03:00.0 to img: configuration space, BAR0 65536 bytes\n");
    EXPECT_EQ(saved.strError, "Warning: BAR0: saved 65536 of 1048576 bytes (--image-limit)\n"
                              "Warning: BAR2: not asked for (--image-bars)\n");
    const std::string strImage = saved.strDir + "/img", strBar = strImage + "/devices/0000:03:00.0/resource0";
    EXPECT_EQ(ReadFile(strImage + "/devices/0000:03:00.0/config"), ConfigBytes(PcieBoard(), 4096));
    EXPECT_EQ(CommandOutput("lspci -F " + strImage + "/config.txt -n"), "03:00.0 ffff: 1af4:1045 (rev 02)\n");
    std::string strManifest = ReadFile(strImage + "/manifest.json");
    for (const char *pszPart : {"\"format\": \"duzedevazu-image\"", "\"version\": 1", "\"slot\": \"0000:03:00.0\"",
                                "\"vendor\": \"0x1af4\"", "\"config_size\": 4096", "\"saved\": 65536", "\"size\": 1048576"})
        EXPECT_NE(strManifest.find(pszPart), std::string::npos) << pszPart << "\n" << strManifest;
    const std::string strBarBefore = ReadFile(strBar);
    EXPECT_EQ(strBarBefore.size(), 1u << 20);

    // The replay: the device's values; a write seen by the run, not by the image.
    ToolCase replay = PciCase("", {}, {"--image", "img", "--write", "8=0x12345678", "--read", "8", "--bridge-read", "0"});
    replay.setUp = nullptr;
    replay.strDir = saved.strDir;
    ToolRun run = RunDuze(replay);
    EXPECT_EQ(run.nStatus, 0) << run.strError;
    EXPECT_EQ(run.strConsole, "0x12345678\n0x10451AF4\n");
    EXPECT_EQ(ReadFile(strBar), strBarBefore);
    replay.aArgs = {"--image", "img", "-Zq", "--log", "image.log"};
    replay.strLogName = "image.log";
    run = RunDuze(replay);
    EXPECT_NE(run.strLog.find("(image img)\n"), std::string::npos) << run.strLog;
    ASSERT_EQ(system(("cp -a '" + strImage + "' '" + strImage + "0'").c_str()), 0);
    replay.aArgs = {"--image", "img", "--image-writable", "--write", "0=0x103"};
    run = RunDuze(replay);
    EXPECT_EQ(run.nStatus, 0) << run.strError;
    EXPECT_EQ(ReadFile(strBar).substr(0, 4), std::string("\x03\x01\0\0", 4));

    // The simulated program rehearses on the image: its board memory starts as the image's BAR0.
    std::string strSim = std::string(kTestedTool).substr(0, strlen(kTestedTool) - strlen("-pci"));
    EXPECT_EQ(CommandOutput("cd " + saved.strDir + " && KYNSIM_IMAGE=img " + strSim + " --read 0 --read 4 2>&1"),
              "0x00000103\n0x00000000\n");
    EXPECT_EQ(CommandOutput("cd " + saved.strDir + " && KYNSIM_IMAGE=nothing " + strSim + " --read 0 2>&1"),
              "kynsim: bad setting KYNSIM_IMAGE=nothing: no board image: it has no manifest.json\n");
    // Both programs read a manifest with the same reader: its members, not its spelling. A manifest
    // written without spaces is read; one of version 12 is refused.
    const std::string strManifest0 = ReadFile(strImage + "0/manifest.json");
    std::string strCompact = CommandOutput("python3 -c 'import json,sys; print(json.dumps(json.load(open(sys.argv[1])), "
                                           "separators=(\",\", \":\")))' " + strImage + "0/manifest.json");
    WriteFile(strImage + "0/manifest.json", strCompact);
    EXPECT_EQ(CommandOutput("cd " + saved.strDir + " && KYNSIM_IMAGE=img0 " + strSim + " --read 0 2>&1"), "0x00000000\n");
    WriteFile(strImage + "0/manifest.json", std::string(strManifest0).replace(strManifest0.find("\"version\": 1"), 12, "\"version\": 12"));
    EXPECT_EQ(CommandOutput("cd " + saved.strDir + " && KYNSIM_IMAGE=img0 " + strSim + " --read 0 2>&1"),
              "kynsim: bad setting KYNSIM_IMAGE=img0: the image is of format version 12; this tool reads version 1\n");
    WriteFile(strImage + "0/manifest.json", strManifest0);
    // A report never empties the image the simulated board runs on.
    std::string strOwnInput = CommandOutput("cd " + saved.strDir + " && KYNSIM_IMAGE=img0 " + strSim + " --memtest 0:8 --junit "
                                            "img0/manifest.json 2>&1 >/dev/null; echo status $?");
    EXPECT_EQ(strOwnInput, "Error: the JUnit report img0/manifest.json cannot be written: it is a file the run reads or writes (a "
                           "register map, the log, the trace, a standard stream)\nstatus 2\n");
    EXPECT_EQ(ReadFile(strImage + "0/manifest.json"), strManifest0);

    // Compared: two images, or the device with one; named with the map, as cmp's statuses.
    const std::string strMap = DUZE_SOURCE_DIR "/tests/maps/board.svd";
    struct {
        std::vector<std::string> aArgs;
        int nStatus;
        std::string strOut, strError;
    } aCompared[] = {
        {{"--compare", "img0", "img"}, 1, "BAR0 0x00000000: 0x00000000 -> 0x00000103\n", ""},
        {{"--compare", "img0", "img", "--map", strMap}, 1,
         "BAR0 0x00000000: 0x00000000 -> 0x00000103  UART.CTRL: EN=0->1 MODE=0x0->0x1 (NORMAL->LOOPBACK) BAUD=0x0->0x1\n", ""},
        {{"--compare", "img0", "img", "--map", strMap, "--json"}, 1,
         "{\"address\":0,\"after\":259,\"bar\":0,\"before\":0,\"fields\":[{\"after\":1,\"before\":0,\"lsb\":0,\"name\":\"EN\","
         "\"width\":1},{\"after\":1,\"after_enum\":\"LOOPBACK\",\"before\":0,\"before_enum\":\"NORMAL\",\"lsb\":1,\"name\":\"MODE\","
         "\"width\":2},{\"after\":1,\"before\":0,\"lsb\":8,\"name\":\"BAUD\",\"width\":8}],\"name\":\"UART.CTRL\",\"op\":"
         "\"compare\",\"space\":\"bar\",\"version\":2}\n", ""},
        {{"--compare", "img0", "img0"}, 0, "", ""},
        // Operations beside a comparison or a save would never run: refused, not dropped.
        {{"--image", "img0", "--write", "0=0xDEADBEEF", "--compare", "img0"}, 2, "", "Error: --compare and operations (--read, "
         "--write, --batch, ...) do not go together: it is a run of its own; give the operations in a run before it\n"},
        {{"--batch", "-", "--save-image", "never"}, 2, "", "Error: --save-image and operations (--read, --write, --batch, ...) "
         "do not go together: it is a run of its own; give the operations in a run before it\n"},
        // What the run reads is never written: a report into the replayed image, a save inside it.
        {{"--image", "img0", "--memtest", "0:8", "--junit", "img0/manifest.json"}, 2,
         "memtest: 0x8 bytes from 0x0, patterns address,address-inverse, 1 pass: 0 mismatches; stuck high: bits none; stuck "
         "low: bits none; aliased address bits: none\n",
         "Error: the JUnit report img0/manifest.json cannot be written: it is a file the run reads or writes (a register map, "
         "the log, the trace, a standard stream)\n"},
        {{"--image", "img0", "--save-image", "img0/devices/inner"}, 2, "", "Error: --save-image img0/devices/inner: it lies "
         "inside what the run reads (an image, the PCI tree); save it elsewhere\n"},
        {{"/B1", "--compare", "img0"}, 0, "", ""},
        {{"/B1", "--compare", "img"}, 1, "BAR0 0x00000000: 0x00000103 -> 0x00000000\n", ""},
        {{"--compare", "img0", "nothere"}, 2, "", "Error: image nothere refused: no image directory there\n"},
        // A write to the device after the save shows, named.
        {{"/B1", "--write", "0=0x103"}, 0, "", ""},
        {{"/B1", "--compare", "img0", "--map", strMap}, 1,
         "BAR0 0x00000000: 0x00000000 -> 0x00000103  UART.CTRL: EN=0->1 MODE=0x0->0x1 (NORMAL->LOOPBACK) BAUD=0x0->0x1\n", ""},
    };
    for (const auto &compared : aCompared) {
        replay.aArgs = compared.aArgs;
        run = RunDuze(replay);
        SCOPED_TRACE(compared.aArgs[1]);
        EXPECT_EQ(run.nStatus, compared.nStatus) << run.strError;
        EXPECT_EQ(run.strConsole, compared.strOut);
        EXPECT_EQ(run.strError, compared.strError);
    }
    // A map's registers that a read changes, or that are write-only, are not read, and are listed.
    saveCase.aArgs = {"/B1", "--save-image", "mapped", "--image-limit", "4K", "--image-bars", "0", "--map", strMap};
    saveCase.setUp = nullptr;
    run = RunDuze(saveCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_NE(run.strError.find("Warning: BAR0: UART.STATUS (0x4) not read: a read changes it (clear)\n"
                                "Warning: BAR0: UART.TXDATA (0x8) not read: write-only\n"), std::string::npos) << run.strError;
    EXPECT_NE(ReadFile(saved.strDir + "/mapped/manifest.json").find("\"name\": \"UART.STATUS\""), std::string::npos);

    // What is refused, and why: status 2, nothing run.
    struct {
        std::function<void()> spoil;
        std::string strWhy;
    } aRefused[] = {
        {[&] { WriteFile(strImage + "/manifest.json", std::string(strManifest).replace(strManifest.find("\"version\": 1"), 12, "\"version\": 2")); },
         "the image is of format version 2; this tool reads version 1"},
        {[&] { EXPECT_EQ(symlink("/etc/passwd", (strImage + "/devices/0000:03:00.0/vendor2").c_str()), 0); },
         "devices/0000:03:00.0/vendor2 is a link: an image holds none"},
        {[&] { EXPECT_EQ(truncate((strImage + "/devices/0000:03:00.0/config").c_str(), 256), 0); },
         "the manifest does not match the files: config has 256 bytes"},
        {[&] { EXPECT_EQ(truncate(strBar.c_str(), 4096), 0); },
         "the manifest does not match the files: resource0 is not of the BAR's size"},
        {[&] { WriteFile(strImage + "/manifest.json", "[1,"); }, "manifest.json is not a DuzeDevazu image's manifest"},
        {[&] { WriteFile(strImage + "/manifest.json", std::string(strManifest).replace(strManifest.find("0000:03:00.0"), 12, std::string(200, 'A'))); },
         "the manifest's slot " + std::string(64, 'A') + "... has no device directory with a config file"},
        {[&] { unlink((strImage + "/manifest.json").c_str()); }, "it has no manifest.json"},
        {[&] { WriteFile(strImage + "/manifest.json", std::string(strManifest).replace(strManifest.find("\"version\": 1"), 12,
                                                                                          "\"version\": " + std::string(100000, '[') +
                                                                                              std::string(100000, ']'))); },
         "manifest.json nests deeper than 64 levels: no image's does"},
    };
    for (const auto &refused : aRefused) {
        std::string strCopy = saved.strDir + "/spoilt";
        ASSERT_EQ(system(("rm -rf '" + strCopy + "' && cp -a '" + strImage + "' '" + strCopy + "'").c_str()), 0);
        std::string strGood = strImage + ".good";
        ASSERT_EQ(rename(strImage.c_str(), strGood.c_str()), 0);
        ASSERT_EQ(rename(strCopy.c_str(), strImage.c_str()), 0);
        refused.spoil();
        replay.aArgs = {"--image", "img", "--read", "0"};
        run = RunDuze(replay);
        EXPECT_EQ(run.nStatus, 2);
        EXPECT_EQ(run.strError, "Error: image img refused: " + refused.strWhy + "\n");
        EXPECT_EQ(run.strConsole, "");
        ASSERT_EQ(system(("rm -rf '" + strImage + "'").c_str()), 0);
        ASSERT_EQ(rename(strGood.c_str(), strImage.c_str()), 0);
    }
    // An image swapped for another tree between its check and its copy is refused, never read from
    // outside itself.
    ASSERT_EQ(system(("cp -a '" + strImage + "/devices' '" + saved.strDir + "/decoy'").c_str()), 0);
    replay.aArgs = {"--image", "img", "--read", "0"};
    replay.env.insert({{"LD_PRELOAD", HOST_SPY_PATH}, {"SWAP_AFTER_WALK", "img/devices:" + saved.strDir + "/decoy"},
                       {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
    run = RunDuze(replay);
    replay.env.erase("LD_PRELOAD");
    replay.env.erase("SWAP_AFTER_WALK");
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_EQ(run.strError.rfind("Error: image img refused: it changed while it was checked: ", 0), 0u) << run.strError;
    ASSERT_EQ(system(("rm '" + strImage + "/devices' && mv '" + strImage + "/devices.checked' '" + strImage + "/devices'").c_str()), 0);
    // A device a driver holds: its BARs are the driver's, not read.
    saveCase.aArgs = {"/B0", "--save-image", "held"};
    run = RunDuze(saveCase);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strConsole, "Saved 0000:00:01.0 to held: configuration space\n");
    EXPECT_EQ(run.strError, "Warning: BAR0: not read: held by virtio-pci (KYNPCI_ALLOW_DRIVER=1 reads it)\n");
    // The settings file's KYNPCI_ALLOW_DRIVER=1 counts as the environment's does: the BAR is read.
    WriteFile(std::string(szDir) + "/allow.conf", "KYNPCI_ALLOW_DRIVER=1\n");
    saveCase.aArgs = {"/B0", "--save-image", "held2"};
    saveCase.env["KYNPCI_CONF"] = "allow.conf";
    run = RunDuze(saveCase);
    saveCase.env.erase("KYNPCI_CONF");
    EXPECT_EQ(run.strError.find("held by"), std::string::npos) << run.strError;
    // An image is never saved over anything.
    saveCase.aArgs = {"/B1", "--save-image", "img"};
    run = RunDuze(saveCase);
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_EQ(run.strError, "Error: --save-image img: it exists; an image goes into a new directory\n");
    // A full disk (the file-size limit stands in): status 255, and nothing left that looks like an image.
    saveCase.aArgs = {"/B1", "--save-image", "full"};
    saveCase.inChild = [] {
        struct rlimit limit = {64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    run = RunDuze(saveCase);
    saveCase.inChild = nullptr;
    EXPECT_EQ(run.nStatus, 255);
    EXPECT_NE(run.strError.find("Error: the image is not saved: "), std::string::npos) << run.strError;
    EXPECT_NE(run.strError.find("resource0 cannot be written: File too large\n"), std::string::npos) << run.strError;
    EXPECT_EQ(CommandOutput("cd '" + saved.strDir + "' && ls -a | grep full"), "");

    // The private copies of killed runs are removed by the next replay: those whose lock is free and
    // that are old enough; a live run's (locked) and a new one stay.
    const std::string strTemp = saved.strDir + "/tmp";
    // A directory of the user's own with the same name's form, and no marker of the tool's, is kept.
    ASSERT_EQ(system(("mkdir -p '" + strTemp + "/duzedevazu-image-KILLED/devices' '" + strTemp + "/duzedevazu-image-LOCKED' '" +
                      strTemp + "/duzedevazu-image-NEWONE' '" + strTemp + "/duzedevazu-image-board1' && for d in KILLED LOCKED "
                      "NEWONE; do touch '" + strTemp + "'/duzedevazu-image-$d/.duzedevazu-scratch; done && touch -d '1 hour ago' '" +
                      strTemp + "/duzedevazu-image-KILLED' '" + strTemp + "/duzedevazu-image-LOCKED' '" + strTemp +
                      "/duzedevazu-image-board1'").c_str()),
              0);
    int fdLive = open((strTemp + "/duzedevazu-image-LOCKED").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(fdLive, LOCK_EX), 0);
    replay.aArgs = {"--image", "img", "--read", "0"};
    replay.env["TMPDIR"] = strTemp;
    run = RunDuze(replay);
    close(fdLive);
    EXPECT_EQ(run.nStatus, 0) << run.strError;
    EXPECT_EQ(CommandOutput("ls '" + strTemp + "'"), "duzedevazu-image-LOCKED\nduzedevazu-image-NEWONE\nduzedevazu-image-board1\n");
    // A replay a signal ends removes its copy too, before the signal ends the process.
    ASSERT_EQ(system(("rm -rf '" + strTemp + "'/*").c_str()), 0);
    replay.aArgs = {"--image", "img"};
    replay.bStdinPipe = true;
    ToolProcess waiting = StartDuze(replay);
    ASSERT_TRUE(WaitForConsole(waiting, 1) && WaitUntil([&] { return CommandOutput("ls '" + strTemp + "'") != ""; }));
    WaitForConsoleToStall(waiting);
    kill(waiting.nPid, SIGTERM);
    run = FinishDuze(waiting);
    EXPECT_EQ(run.nStatus, 128 + SIGTERM);
    EXPECT_EQ(CommandOutput("ls '" + strTemp + "'"), "");
    replay.bStdinPipe = false;
    replay.env.erase("TMPDIR");
    // A BAR that stops answering while it is read (its file cut short under the mapping, as a
    // removed device's goes): what came before is saved, the rest is a hole, and the save says so.
    saveCase.aArgs = {"/B1", "--save-image", "shrunk", "--image-limit", "64K", "--image-bars", "0"};
    saveCase.env.insert({{"LD_PRELOAD", HOST_SPY_PATH}, {"MMAP_SHRINKS", "1"}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
    run = RunDuze(saveCase);
    EXPECT_EQ(run.nStatus, 0) << run.strError;
    EXPECT_EQ(run.strConsole, "Saved 0000:03:00.0 to shrunk: configuration space, BAR0 16384 bytes\n");
    EXPECT_EQ(run.strError, "Warning: BAR0: resource0 stopped answering at 0x4000: saved 16384 of 1048576 bytes\n"
                            "Warning: BAR2: not asked for (--image-bars)\n");
    EXPECT_NE(ReadFile(saved.strDir + "/shrunk/manifest.json").find("\"saved\": 16384"), std::string::npos);
    // A signal during the save ends it there: no image, no partial directory, no word of a save.
    saveCase.env.erase("MMAP_SHRINKS");
    saveCase.env["MMAP_SIGNALS"] = std::to_string(SIGTERM);
    saveCase.aArgs = {"/B1", "--save-image", "stopped", "--image-bars", "0"};
    run = RunDuze(saveCase);
    EXPECT_EQ(run.nStatus, 128 + SIGTERM);
    EXPECT_EQ(run.strConsole, "");
    EXPECT_EQ(CommandOutput("cd '" + saved.strDir + "' && ls -a | grep stopped"), "");
    // A partial directory a killed save left (marked, unlocked, old) goes at the next save into the place.
    saveCase.env.erase("MMAP_SIGNALS");
    ASSERT_EQ(system(("mkdir '" + saved.strDir + "/.again.partial-KILLED' && touch '" + saved.strDir + "/.again.partial-KILLED/"
                      ".duzedevazu-scratch' && touch -d '1 hour ago' '" + saved.strDir + "/.again.partial-KILLED'").c_str()), 0);
    saveCase.aArgs = {"/B1", "--save-image", "again", "--image-bars", "0"};
    run = RunDuze(saveCase);
    EXPECT_EQ(run.nStatus, 0) << run.strError;
    EXPECT_EQ(CommandOutput("cd '" + saved.strDir + "' && ls -a | grep again"), "again\n");
    EXPECT_EQ(CommandOutput("ls -a '" + saved.strDir + "/again'").find("scratch"), std::string::npos);
    ASSERT_EQ(system(("rm -rf '" + saved.strDir + "'").c_str()), 0);
}
