// pci_unit_test.cpp - the PCI library's pure pieces and decisions, without the tool: its devices over a
// release, its settings' parsers, VFIO's region records as the kernel gives them, and VFIO's opening
// with the kernel's answers played.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/vfio.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fstream>
#include <sstream>

#include "pci_internal.h"

namespace {

void WriteFile(const std::string &strPath, const std::string &strText)
{
    FILE *pFile = fopen(strPath.c_str(), "wb");
    ASSERT_NE(pFile, nullptr) << strPath;
    fwrite(strText.data(), 1, strText.size(), pFile);
    fclose(pFile);
}

char g_szTreeRoot[] = "/tmp/duze-pci-unit-XXXXXX";

// The fake tree the tests below share, made at the first use: the library reads its settings once,
// at its first call. Its PCI part, ROOT/sys/bus/pci; removed when the program ends.
std::string TestTree()
{
    static std::string s_strPci;
    if (s_strPci.empty() && mkdtemp(g_szTreeRoot) != nullptr) {
        s_strPci = std::string(g_szTreeRoot) + "/sys/bus/pci";
        EXPECT_EQ(system(("mkdir -p " + s_strPci + "/devices/0000:03:00.0").c_str()), 0);
        setenv("KYNPCI_SYSFS", s_strPci.c_str(), 1);
        setenv("KYNPCI_DEVICE", "03:00.0", 1);
        setenv("KYNPCI_CONF", "/dev/null", 1);
        atexit([] { EXPECT_EQ(system(("rm -rf " + std::string(g_szTreeRoot)).c_str()), 0); });
    }
    return s_strPci;
}

TEST(PciLibrary, ReleaseForgetsEveryDeviceAndAReconnectHandsOutTheFirstHandleAgain)
{
    std::string strDevice = TestTree() + "/devices/0000:03:00.0";
    unlink((strDevice + "/driver").c_str());
    WriteFile(strDevice + "/vendor", "0x1af4\n");
    WriteFile(strDevice + "/device", "0x1045\n");
    WriteFile(strDevice + "/class", "0xffff00\n");
    WriteFile(strDevice + "/resource", "0x00000000f0000000 0x00000000f0000fff 0x0000000000040200\n");
    WriteFile(strDevice + "/config", std::string("\xF4\x1A\x45\x10", 4) + std::string(4092, '\0'));

    KYN_HANDLE hBoard = 0, hBridge = 0;
    uint32_t nValue = 0;
    ASSERT_EQ(KynDrvConnectLib(), KYN_OK);
    ASSERT_EQ(KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, 6, 0, &hBoard), KYN_OK);
    ASSERT_EQ(KynDrvGetDeviceHandle(hBoard, KYN_DEVICE_TYPE_PCI_BRIDGE, 0, &hBridge), KYN_OK);
    EXPECT_EQ(hBoard, 0x20);
    EXPECT_EQ(hBridge, 0x21);
    EXPECT_EQ(KynDrvReadReg32(hBridge, 0, &nValue), KYN_OK);
    EXPECT_EQ(nValue, 0x10451AF4u);
    ASSERT_EQ(KynDrvReleaseLib(), KYN_OK);
    EXPECT_EQ(KynDrvReadReg32(hBridge, 0, &nValue), KynError(KYN_ERR_NOT_CONNECTED));
    ASSERT_EQ(KynDrvConnectLib(), KYN_OK);
    EXPECT_EQ(KynDrvReadReg32(hBridge, 0, &nValue), KynError(KYN_ERR_INVALID_HANDLE));
    ASSERT_EQ(KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, 6, 0, &hBoard), KYN_OK);
    EXPECT_EQ(hBoard, 0x20);
    EXPECT_EQ(KynDrvReleaseLib(), KYN_OK);
}

TEST(PciSettingsParser, IdsAndSlotsInLspciForms)
{
    PciSettings settings;
    std::string strError;
    ASSERT_TRUE(PciParseSettings({{"KYNPCI_IDS", "6=10b5:9054,10B5:9056;75=1af4:1045:0680"},
                                  {"KYNPCI_DEVICE", "0001:03:00.1"}, {"KYNPCI_BAR", "0x2"}, {"KYNPCI_ALLOW_DRIVER", "0"},
                                  {"KYNPCI_ACCESS", "vfio"}},
                                 settings, strError))
        << strError;
    ASSERT_EQ(settings.aIds.size(), 2u);
    EXPECT_EQ(settings.aIds[0].nType, 6u);
    ASSERT_EQ(settings.aIds[0].aFilters.size(), 2u);
    EXPECT_EQ(settings.aIds[0].aFilters[1].vendor, 0x10b5);
    EXPECT_EQ(settings.aIds[0].aFilters[1].device, 0x9056);
    EXPECT_EQ(settings.aIds[1].aFilters[0].device_class, 0x0680);
    EXPECT_EQ(settings.device.domain, 1);
    EXPECT_EQ(settings.device.bus, 3);
    EXPECT_EQ(settings.device.func, 1);
    EXPECT_EQ(settings.nBar, 2);
    EXPECT_STREQ(settings.pAccess->pszName, "vfio");
    for (const char *pszIds : {"=1:2", "6=", "6=:9054", "6=10b5:", "6=xyz:1", "x=1:2", "6=1:2;", "0x80000000=1:2"}) {
        PciSettings bad;
        EXPECT_FALSE(PciParseSettings({{"KYNPCI_IDS", pszIds}}, bad, strError)) << pszIds;
    }
    // Empty clears a selection the settings file made.
    EXPECT_TRUE(PciParseSettings({{"KYNPCI_DEVICE", "03:00.0"}, {"KYNPCI_DEVICE", ""}, {"KYNPCI_IDS", ""}}, settings, strError));
    EXPECT_FALSE(settings.bDevice);
    EXPECT_TRUE(settings.aIds.empty());
    // A slot as lspci -s takes it, wildcards and parts left out; it must still name one device when opened.
    for (const char *pszSlot : {"3", "03:00", "03:*.0", "*:*.*", "0001:03:", ".1"}) {
        PciSettings good;
        EXPECT_TRUE(PciParseSettings({{"KYNPCI_DEVICE", pszSlot}}, good, strError)) << pszSlot << ": " << strError;
    }
    for (const char *pszSlot : {"1:2:3:4.0", "0.8", "zz:00.0", "03:00.0x"}) {
        PciSettings bad;
        EXPECT_FALSE(PciParseSettings({{"KYNPCI_DEVICE", pszSlot}}, bad, strError)) << pszSlot;
    }
    // Code * (what --ids gives): every form of lspci -d, a vendor alone also without its colon.
    struct {
        const char *pszIds;
        int nVendor, nDevice, nClass;
    } aAny[] = {{"*=1af4", 0x1af4, -1, -1}, {"*=1af4:", 0x1af4, -1, -1}, {"*=:1041", -1, 0x1041, -1},
                {"*=::0200", -1, -1, 0x0200}, {"6=10b5:9054;*=10ee:7024", 0x10ee, 0x7024, -1}};
    for (const auto &c : aAny) {
        PciSettings any;
        ASSERT_TRUE(PciParseSettings({{"KYNPCI_IDS", c.pszIds}}, any, strError)) << c.pszIds << ": " << strError;
        EXPECT_EQ(any.aIds.back().nType, kPciAnyBoardType);
        EXPECT_EQ(any.aIds.back().aFilters[0].vendor, c.nVendor) << c.pszIds;
        EXPECT_EQ(any.aIds.back().aFilters[0].device, c.nDevice) << c.pszIds;
        EXPECT_EQ(any.aIds.back().aFilters[0].device_class, c.nClass) << c.pszIds;
    }
    for (const char *pszIds : {"*=zz", "*=1:2;*=3:4", "*=", "*=1af4:1041:10000", "*=1:2:3:4:5"}) {
        PciSettings bad;
        EXPECT_FALSE(PciParseSettings({{"KYNPCI_IDS", pszIds}}, bad, strError)) << pszIds;
    }
}

// The kernel's vfio_region_info as bytes: its fields little-endian, then its capability chain.
std::string Le(uint64_t nValue, int nBytes)
{
    std::string strBytes;
    for (int i = 0; i < nBytes; ++i)
        strBytes += (char)(nValue >> (8 * i));
    return strBytes;
}
std::string RegionInfo(uint32_t nFlags, uint32_t nCapOffset, uint64_t nSize, uint64_t nOffset)
{
    return Le(32, 4) + Le(nFlags, 4) + Le(0, 4) + Le(nCapOffset, 4) + Le(nSize, 8) + Le(nOffset, 8);
}
std::string CapHeader(uint16_t nId, uint32_t nNext)
{
    return Le(nId, 2) + Le(1, 2) + Le(nNext, 4);
}
std::string Sparse(uint32_t nNext, std::vector<std::pair<uint64_t, uint64_t>> aAreas, uint32_t nCount = ~0u)
{
    std::string strBytes = CapHeader(VFIO_REGION_INFO_CAP_SPARSE_MMAP, nNext) +
                           Le(nCount != ~0u ? nCount : aAreas.size(), 4) + Le(0, 4);
    for (const auto &area : aAreas)
        strBytes += Le(area.first, 8) + Le(area.second, 8);
    return strBytes;
}

TEST(PciVfio, RegionInfoAndItsCapabilities)
{
    const uint32_t kRw = VFIO_REGION_INFO_FLAG_READ | VFIO_REGION_INFO_FLAG_WRITE, kMmap = VFIO_REGION_INFO_FLAG_MMAP;
    const uint32_t kCaps = VFIO_REGION_INFO_FLAG_CAPS;
    const uint64_t kMiB = 1 << 20;
    struct {
        const char *pszName;
        std::string strBytes;
        bool bParsed, bMmap;
    } aCases[] = {
        {"mappable BAR", RegionInfo(kRw | kMmap, 0, kMiB, 0x20000000000), true, true},
        {"not mappable", RegionInfo(kRw, 0, 0x100, 0), true, false},
        {"one area covering it", RegionInfo(kRw | kMmap | kCaps, 32, kMiB, 0) + Sparse(0, {{0, kMiB}}), true, true},
        {"MSI-X table kept out", RegionInfo(kRw | kMmap | kCaps, 32, kMiB, 0) + Sparse(0, {{0, 0x1000}, {0x2000, kMiB - 0x2000}}), true, false},
        {"another capability first", RegionInfo(kRw | kMmap | kCaps, 32, kMiB, 0) + CapHeader(2, 40) + Sparse(0, {{0, 0x1000}}), true, false},
        {"capabilities not sent", RegionInfo(kRw | kMmap | kCaps, 0, kMiB, 0), true, true},
        {"too short", RegionInfo(kRw, 0, kMiB, 0).substr(0, 31), false, false},
        {"capability past the end", RegionInfo(kRw | kMmap | kCaps, 64, kMiB, 0) + Sparse(0, {{0, kMiB}}), false, false},
        {"a chain that loops", RegionInfo(kRw | kMmap | kCaps, 32, kMiB, 0) + CapHeader(2, 32), false, false},
        {"more areas than bytes", RegionInfo(kRw | kMmap | kCaps, 32, kMiB, 0) + Sparse(0, {{0, kMiB}}, 2), false, false},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        PciVfioRegion region;
        EXPECT_EQ(PciVfioParseRegion(c.strBytes.data(), c.strBytes.size(), region), c.bParsed);
        if (c.bParsed) {
            EXPECT_EQ(region.bMmap, c.bMmap);
        }
    }
    PciVfioRegion region;
    std::string strPlain = RegionInfo(kRw | kMmap, 0, kMiB, 0x70000000000);
    ASSERT_TRUE(PciVfioParseRegion(strPlain.data(), strPlain.size(), region));
    EXPECT_EQ(region.nSize, kMiB);
    EXPECT_EQ(region.nOffset, 0x70000000000u);
    EXPECT_TRUE(region.bRead && region.bWrite);
}

} // namespace

namespace {

// A kernel's answers to VFIO's opening, played: the errno of each open and ioctl that fails, the
// files that exist, and whether the group is viable.
struct PlayedKernel {
    std::map<std::string, int> openErrno;
    std::map<unsigned long, int> ioctlErrno;
    std::set<std::string> files = {"/dev/vfio/vfio", "/dev/vfio/5", "/dev/iommu"};
    bool bViable = true;
    bool bKernelTree = true;
};
PlayedKernel g_played;

int PlayedOpen(const char *pszPath, int)
{
    auto it = g_played.openErrno.find(pszPath);
    if (it != g_played.openErrno.end()) {
        errno = it->second;
        return -1;
    }
    return 100;
}

int PlayedIoctl(int, unsigned long nRequest, uintptr_t nArgument)
{
    auto it = g_played.ioctlErrno.find(nRequest);
    if (it != g_played.ioctlErrno.end()) {
        errno = it->second;
        return -1;
    }
    if (nRequest == VFIO_GET_API_VERSION)
        return VFIO_API_VERSION;
    if (nRequest == VFIO_GROUP_GET_STATUS)
        ((vfio_group_status *)nArgument)->flags = g_played.bViable ? VFIO_GROUP_FLAGS_VIABLE : 0;
    if (nRequest == VFIO_GROUP_GET_DEVICE_FD)
        return 101;
    if (nRequest == VFIO_DEVICE_GET_REGION_INFO) {
        vfio_region_info *pInfo = (vfio_region_info *)nArgument;
        pInfo->flags = VFIO_REGION_INFO_FLAG_READ | VFIO_REGION_INFO_FLAG_WRITE;
        pInfo->size = 256;
    }
    if (nRequest == VFIO_DEVICE_SET_IRQS) {
        errno = ENOTTY;
        return -1;
    }
    return 0;
}

// Every failure the PCI library can return reaches the screen with a text: each code its sources and
// the front's name is found by reading them, so that a new code without a text fails here.
TEST(PciResults, EveryFailureCodeHasAText)
{
    const std::map<std::string, KYN_RESULT> codes = {
        {"PCI_ERR_DEVICE_LIST", PCI_ERR_DEVICE_LIST}, {"PCI_ERR_NO_BAR", PCI_ERR_NO_BAR},
        {"PCI_ERR_IO_BAR", PCI_ERR_IO_BAR}, {"PCI_ERR_DRIVER", PCI_ERR_DRIVER},
        {"PCI_ERR_PERMISSION", PCI_ERR_PERMISSION}, {"PCI_ERR_CONFIG_ACCESS", PCI_ERR_CONFIG_ACCESS},
        {"PCI_ERR_LOCKDOWN", PCI_ERR_LOCKDOWN}, {"PCI_ERR_DECODING_OFF", PCI_ERR_DECODING_OFF},
        {"PCI_ERR_GONE", PCI_ERR_GONE}, {"PCI_ERR_NO_IOMMU", PCI_ERR_NO_IOMMU},
        {"PCI_ERR_GROUP_NOT_VIABLE", PCI_ERR_GROUP_NOT_VIABLE}, {"PCI_ERR_GROUP_BUSY", PCI_ERR_GROUP_BUSY},
        {"PCI_ERR_VFIO", PCI_ERR_VFIO}, {"PCI_ERR_NOT_SUPPORTED", PCI_ERR_NOT_SUPPORTED},
        {"KYN_ERR_INVALID_PARAMETER", KynError(KYN_ERR_INVALID_PARAMETER)},
        {"KYN_ERR_NOT_CONNECTED", KynError(KYN_ERR_NOT_CONNECTED)},
        {"KYN_ERR_BUFFER_TOO_SMALL", KynError(KYN_ERR_BUFFER_TOO_SMALL)},
        {"KYN_ERR_NO_SUCH_ATTRIBUTE", KynError(KYN_ERR_NO_SUCH_ATTRIBUTE)},
        {"KYN_ERR_ATTRIBUTE_KIND", KynError(KYN_ERR_ATTRIBUTE_KIND)},
        {"KYN_ERR_INVALID_HANDLE", KynError(KYN_ERR_INVALID_HANDLE)},
        {"KYN_ERR_NO_SUCH_DEVICE", KynError(KYN_ERR_NO_SUCH_DEVICE)},
        {"KYN_ERR_MISALIGNED", KynError(KYN_ERR_MISALIGNED)}, {"KYN_ERR_OUTSIDE", KynError(KYN_ERR_OUTSIDE)},
    };
    std::set<std::string> named;
    for (const std::string strDir : {"/hwlib/pci", "/hwlib/front"}) {
        DIR *pDir = opendir((DUZE_SOURCE_DIR + strDir).c_str());
        ASSERT_NE(pDir, nullptr) << strDir;
        while (const dirent *pEntry = readdir(pDir)) {
            std::ifstream file(DUZE_SOURCE_DIR + strDir + "/" + pEntry->d_name);
            std::stringstream text;
            text << file.rdbuf();
            std::string strText = text.str();
            // Each PCI_ERR_... and KYN_ERR_... name (std::regex draws the sanitizer build's warnings).
            for (const char *pszPrefix : {"PCI_ERR_", "KYN_ERR_"})
                for (size_t nAt = strText.find(pszPrefix); nAt != std::string::npos; nAt = strText.find(pszPrefix, nAt + 1))
                    named.insert(strText.substr(nAt, strText.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_", nAt) - nAt));
        }
        closedir(pDir);
    }
    EXPECT_GT(named.size(), 20u);
    for (const std::string &strName : named)
        EXPECT_EQ(codes.count(strName), 1u) << strName << ": a code this test does not know; add it";
    for (const auto &code : codes) {
        char szText[256] = "";
        EXPECT_GE(KynDrvResultCode2String(0, code.second, sizeof szText, szText), 0) << code.first;
        EXPECT_GT(strlen(szText), 10u) << code.first;
    }
}

} // namespace

// VFIO's opening, decided without a guest: the kernel's answers played through the library's table
// of kernel calls, over a tree with an IOMMU group. Each refusal's code and the words that say why.
TEST(PciVfio, OpeningRefusesWhatTheKernelRefusesSayingWhy)
{
    std::string strPci = TestTree(), strRoot = g_szTreeRoot, strBoard = strPci + "/devices/0000:03:00.0";
    ASSERT_EQ(system(("mkdir -p " + strBoard + " " + strPci + "/devices/0000:03:00.1 " + strRoot +
                      "/sys/kernel/iommu_groups/5/devices/0000:03:00.0").c_str()), 0);
    auto Link = [](const std::string &strTarget, const std::string &strLink) {
        unlink(strLink.c_str());
        if (!strTarget.empty()) {
            EXPECT_EQ(symlink(strTarget.c_str(), strLink.c_str()), 0);
        }
    };
    PciObject board;
    board.strSlot = "0000:03:00.0";
    board.strOpenDir = PciGetSettings().strTreeOpen + "/devices/0000:03:00.0";
    PciVfioKernel kernel = g_pciVfioKernel;
    g_pciVfioKernel.pfnOpen = PlayedOpen;
    g_pciVfioKernel.pfnIoctl = PlayedIoctl;
    g_pciVfioKernel.pfnExists = [](const char *pszPath) { return g_played.files.count(pszPath) != 0; };
    g_pciVfioKernel.pfnClose = [](int) {};
    g_pciVfioKernel.pfnTreeIsTheKernels = [] { return g_played.bKernelTree; };
    struct {
        const char *pszName;
        std::function<void()> play; // the tree and the kernel, changed from a group that opens
        KYN_RESULT nResult;
        const char *pszWhy; // in the text
    } aCases[] = {
        {"opens", [] {}, KYN_OK, ""},
        {"no IOMMU", [&] { Link("", strBoard + "/iommu_group"); EXPECT_EQ(system(("rm -r " + strRoot + "/sys/kernel/iommu_groups/5").c_str()), 0); },
         PCI_ERR_NO_IOMMU, "the kernel runs without an IOMMU"},
        {"in no group", [&] { Link("", strBoard + "/iommu_group"); }, PCI_ERR_NO_IOMMU, "is in no IOMMU group"},
        {"not bound", [&] { Link("../../../../bus/pci/drivers/e1000e", strBoard + "/driver"); }, PCI_ERR_VFIO,
         "is not bound to vfio-pci (driver e1000e)"},
        {"group shared", [&] { mkdir((strRoot + "/sys/kernel/iommu_groups/5/devices/0000:03:00.1").c_str(), 0755); },
         PCI_ERR_GROUP_NOT_VIABLE, "also holds 0000:03:00.1 (e1000e)"},
        {"another tree", [] { g_played.bKernelTree = false; }, PCI_ERR_VFIO, "tree that is not the kernel's"},
        {"no vfio module", [] { g_played.openErrno["/dev/vfio/vfio"] = ENOENT; }, PCI_ERR_VFIO, "load the vfio-pci module"},
        {"group in use", [] { g_played.openErrno["/dev/vfio/5"] = EBUSY; }, PCI_ERR_GROUP_BUSY, "is in use by another process"},
        {"no rights", [] { g_played.openErrno["/dev/vfio/5"] = EACCES; }, PCI_ERR_PERMISSION, "SUBSYSTEM==\"vfio\""},
        {"not viable", [] { g_played.bViable = false; }, PCI_ERR_GROUP_NOT_VIABLE, "is not viable"},
        {"no IOMMU driver", [] { g_played.ioctlErrno[VFIO_SET_IOMMU] = ENODEV; }, PCI_ERR_VFIO, "load vfio_iommu_type1"},
        {"device in use", [] { g_played.ioctlErrno[VFIO_GROUP_GET_DEVICE_FD] = EBUSY; }, PCI_ERR_GROUP_BUSY,
         "0000:03:00.0 is in use by another process"},
        {"no configuration region", [] { g_played.ioctlErrno[VFIO_DEVICE_GET_REGION_INFO] = EINVAL; }, PCI_ERR_VFIO,
         "tells nothing of the configuration space"},
        {"the device's own file", [&] { g_played.files = {"/dev/iommu"}; mkdir((strBoard + "/vfio-dev").c_str(), 0755); mkdir((strBoard + "/vfio-dev/vfio0").c_str(), 0755); },
         g_bPciVfioDeviceFiles ? KYN_OK : PCI_ERR_VFIO, g_bPciVfioDeviceFiles ? "" : "only through /dev/vfio/devices/vfio0"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        Link("../../../../bus/pci/drivers/vfio-pci", strBoard + "/driver");
        Link("../../../../bus/pci/drivers/e1000e", strPci + "/devices/0000:03:00.1/driver");
        Link("../../../../kernel/iommu_groups/5", strBoard + "/iommu_group");
        ASSERT_EQ(system(("mkdir -p " + strRoot + "/sys/kernel/iommu_groups/5/devices/0000:03:00.0; rmdir " + strRoot +
                          "/sys/kernel/iommu_groups/5/devices/0000:03:00.1 " + strBoard + "/vfio-dev/vfio0 " + strBoard +
                          "/vfio-dev 2>/dev/null; true").c_str()), 0);
        g_played = PlayedKernel();
        c.play();
        KYN_RESULT nResult = PciVfioTryOpen(board);
        EXPECT_EQ(nResult, c.nResult);
        if (nResult < 0) {
            EXPECT_NE(std::string(PciResultText(nResult)).find(c.pszWhy), std::string::npos) << PciResultText(nResult);
        }
    }
    g_pciVfioKernel = kernel;
}
