// unit_sim_test.cpp - the simulated library: register model, bridge, devices, result texts, settings.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "KynHwDll.h"
#include "sim_internal.h"

namespace {

class SimBoard : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(KynDrvConnectLib(), 0);
        ASSERT_EQ(KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, 6, 0, &m_hBoard), 0);
        ASSERT_EQ(KynDrvGetDeviceHandle(m_hBoard, KYN_DEVICE_TYPE_PCI_BRIDGE, 0, &m_hBridge), 0);
    }
    void TearDown() override { KynDrvReleaseLib(); }
    KYN_HANDLE m_hBoard = 0;
    KYN_HANDLE m_hBridge = 0;
};

TEST(SimConnection, DeviceAndRegisterCallsFailBeforeConnect)
{
    KynDrvReleaseLib();
    KYN_HANDLE hBoard = 0;
    uint32_t nValue = 0;
    EXPECT_EQ(KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, 6, 0, &hBoard), KynError(KYN_ERR_NOT_CONNECTED));
    EXPECT_EQ(KynDrvReadReg32(0x20, 0, &nValue), KynError(KYN_ERR_NOT_CONNECTED));
    EXPECT_EQ(KynDrvWriteReg32(0x20, 0, 1), KynError(KYN_ERR_NOT_CONNECTED));
    EXPECT_EQ(KynDrvGetAttributeValueSz(KYN_HANDLE_DRIVER, 9, nullptr, 0), KynError(KYN_ERR_NOT_CONNECTED));
    // The library's own attributes answer before a connect.
    char szText[64];
    EXPECT_EQ(KynDrvGetAttributeValueSz(KYN_HANDLE_LIBRARY, KYN_ATTR_FILE_NAME, szText, sizeof szText), 0);
    EXPECT_STREQ(szText, "libkynhwsim.a");
    uint32_t bStatic = 0;
    EXPECT_EQ(KynDrvGetAttributeValueBool(KYN_HANDLE_LIBRARY, KYN_ATTR_STATIC_LINKED, &bStatic), 0);
    EXPECT_EQ(bStatic, 1u);
}

TEST_F(SimBoard, SameDeviceAnswersWithSameHandle)
{
    KYN_HANDLE hAgain = 0;
    ASSERT_EQ(KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, 6, 0, &hAgain), 0);
    EXPECT_EQ(hAgain, m_hBoard);
    EXPECT_NE(m_hBridge, m_hBoard);
    EXPECT_EQ(KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, 6, 1, &hAgain), KynError(KYN_ERR_NO_SUCH_DEVICE));
    EXPECT_EQ(KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, 5, 0, &hAgain), KynError(KYN_ERR_NO_SUCH_DEVICE));
}

TEST_F(SimBoard, WidthsAndLittleEndianOrder)
{
    ASSERT_EQ(KynDrvWriteReg32(m_hBoard, 0x100, 0x11223344), 0);
    const uint8_t anBytes[] = {0x44, 0x33, 0x22, 0x11};
    for (uint32_t i = 0; i < 4; ++i) {
        uint8_t nByte = 0;
        ASSERT_EQ(KynDrvReadReg8(m_hBoard, 0x100 + i, &nByte), 0);
        EXPECT_EQ(nByte, anBytes[i]);
    }
    uint16_t nHalf = 0;
    ASSERT_EQ(KynDrvReadReg16(m_hBoard, 0x100, &nHalf), 0);
    EXPECT_EQ(nHalf, 0x3344);
    ASSERT_EQ(KynDrvReadReg16(m_hBoard, 0x102, &nHalf), 0);
    EXPECT_EQ(nHalf, 0x1122);

    // 8- and 16-bit writes keep the low bits of the value and leave the neighbours alone.
    ASSERT_EQ(KynDrvWriteReg8(m_hBoard, 0x101, 0x1FF), 0);
    ASSERT_EQ(KynDrvWriteReg16(m_hBoard, 0x102, 0xABCDE), 0);
    uint32_t nWord = 0;
    ASSERT_EQ(KynDrvReadReg32(m_hBoard, 0x100, &nWord), 0);
    EXPECT_EQ(nWord, 0xBCDEFF44u);
}

TEST_F(SimBoard, AlignmentAndWindowEnd)
{
    struct {
        int nWidth;
        uint32_t nAddress;
        KYN_RESULT nResult;
    } aCases[] = {
        {1, 0x3, 0},
        {2, 0x1, KynError(KYN_ERR_MISALIGNED)},
        {2, 0x2, 0},
        {4, 0x2, KynError(KYN_ERR_MISALIGNED)},
        {4, 0x1, KynError(KYN_ERR_MISALIGNED)},
        {4, 0x03FFFFFC, 0},
        {4, 0x03FFFFFE, KynError(KYN_ERR_MISALIGNED)}, // inside the page the last write opened
        {1, 0x03FFFFFF, 0},
        {4, 0x04000000, KynError(KYN_ERR_OUTSIDE)},
        {1, 0x04000000, KynError(KYN_ERR_OUTSIDE)},
        {4, 0xFFFFFFFC, KynError(KYN_ERR_OUTSIDE)},
        {2, 0xFFFFFFFE, KynError(KYN_ERR_OUTSIDE)},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.nAddress);
        uint8_t n8 = 0;
        uint16_t n16 = 0;
        uint32_t n32 = 0;
        KYN_RESULT nRead = c.nWidth == 1   ? KynDrvReadReg8(m_hBoard, c.nAddress, &n8)
                           : c.nWidth == 2 ? KynDrvReadReg16(m_hBoard, c.nAddress, &n16)
                                           : KynDrvReadReg32(m_hBoard, c.nAddress, &n32);
        KYN_RESULT nWrite = c.nWidth == 1   ? KynDrvWriteReg8(m_hBoard, c.nAddress, 0)
                            : c.nWidth == 2 ? KynDrvWriteReg16(m_hBoard, c.nAddress, 0)
                                            : KynDrvWriteReg32(m_hBoard, c.nAddress, 0);
        EXPECT_EQ(nRead, c.nResult);
        EXPECT_EQ(nWrite, c.nResult);
    }
}

// The 32-bit accesses' fast window covers one page at a time: words on either side of each page
// boundary keep their own values, whichever page the window was last opened on.
TEST_F(SimBoard, WordsAtPageBoundariesKeepTheirValues)
{
    const uint32_t anAddresses[] = {0x0FFFC, 0x10000, 0x1FFFC, 0x20000, 0x0, 0x3FFFFFC};
    for (int nPass = 0; nPass < 2; ++nPass)
        for (uint32_t nAddress : anAddresses)
            ASSERT_EQ(KynDrvWriteReg32(m_hBoard, nAddress, nAddress ^ 0xA5A5A5A5u), 0);
    for (int i = 5; i >= 0; --i) {
        uint32_t nValue = 0;
        ASSERT_EQ(KynDrvReadReg32(m_hBoard, anAddresses[i], &nValue), 0);
        EXPECT_EQ(nValue, anAddresses[i] ^ 0xA5A5A5A5u) << std::hex << anAddresses[i];
    }
    uint32_t nValue = 0;
    EXPECT_EQ(KynDrvReadReg32(m_hBoard, 0x20002, &nValue), KynError(KYN_ERR_MISALIGNED));
    EXPECT_EQ(KynDrvReadReg32(m_hBoard, 0x30000, &nValue), 0); // a page never written reads 0
    EXPECT_EQ(nValue, 0u);
}

// A checked 32-bit access opens the fast path over the written page it found, and only over it:
// aligned words of that page of that board, until the window closes.
TEST_F(SimBoard, FastPathCoversThePageACheckedAccessFoundWritten)
{
    KynDrvDbgDump(m_hBoard, 2);
    EXPECT_FALSE(KynFastPathTakes(m_hBoard, 0x10000));
    uint32_t nValue = 0;
    ASSERT_EQ(KynDrvReadReg32(m_hBoard, 0x10008, &nValue), 0); // a page not yet written opens nothing
    EXPECT_FALSE(KynFastPathTakes(m_hBoard, 0x10008));
    ASSERT_EQ(KynDrvWriteReg32(m_hBoard, 0x10008, 1), 0);
    const struct {
        uint32_t nAddress;
        bool bFast;
    } aCases[] = {{0x10000, true}, {0x10008, true}, {0x1FFFC, true}, {0x20000, false}, {0xFFFC, false}, {0x10002, false}};
    for (const auto &c : aCases)
        EXPECT_EQ(KynFastPathTakes(m_hBoard, c.nAddress), c.bFast) << std::hex << c.nAddress;
    EXPECT_FALSE(KynFastPathTakes(m_hBridge, 0x10000));
    KynDrvReleaseLib();
    EXPECT_FALSE(KynFastPathTakes(m_hBoard, 0x10000));
}

// The console holds text for a file or pipe: an empty print writes what it holds.
void WriteHeldConsoleText(const char *pszFormat = "", ...)
{
    va_list args;
    va_start(args, pszFormat);
    OsaConsolePrintF(pszFormat, args);
    va_end(args);
}

TEST_F(SimBoard, MemoryIsTakenOnlyOnFirstWrite)
{
    KynDrvDbgDump(m_hBoard, 2);
    uint32_t nValue = 1;
    ASSERT_EQ(KynDrvReadReg32(m_hBoard, 0x02000000, &nValue), 0);
    EXPECT_EQ(nValue, 0u);
    WriteHeldConsoleText();
    testing::internal::CaptureStdout();
    KynDrvDbgDump(m_hBoard, 1);
    KynDrvWriteReg32(m_hBoard, 0x02000000, 5);
    KynDrvWriteReg32(m_hBoard, 0x0200FFFC, 5);
    KynDrvDbgDump(m_hBoard, 1);
    KynDrvWriteReg8(m_hBoard, 0x00010000, 5);
    KynDrvDbgDump(m_hBoard, 1);
    WriteHeldConsoleText();
    std::string strOut = testing::internal::GetCapturedStdout();
    char szExpected[512];
    snprintf(szExpected, sizeof szExpected,
             "KynSim: device 0x%X: 0 of 65536 KiB of board memory in use\n"
             "KynSim: device 0x%X: 64 of 65536 KiB of board memory in use\n"
             "KynSim: device 0x%X: 128 of 65536 KiB of board memory in use\n",
             (unsigned)m_hBoard, (unsigned)m_hBoard, (unsigned)m_hBoard);
    EXPECT_EQ(strOut, szExpected);
}

TEST_F(SimBoard, BridgeRegistersKeepResetValuesAndReadOnlyBits)
{
    uint32_t nValue = 0;
    ASSERT_EQ(KynDrvReadReg32(m_hBridge, 0x000, &nValue), 0);
    EXPECT_EQ(nValue, 0x91541D8Eu);
    // Read-only bits keep their value; writable ones take the write.
    ASSERT_EQ(KynDrvWriteReg32(m_hBridge, 0x000, 0xFFFFFFFF), 0);
    ASSERT_EQ(KynDrvReadReg32(m_hBridge, 0x000, &nValue), 0);
    EXPECT_EQ(nValue, 0x91541D8Eu);
    ASSERT_EQ(KynDrvWriteReg32(m_hBridge, 0x1FC, 0xCAFEF00D), 0);
    ASSERT_EQ(KynDrvReadReg32(m_hBridge, 0x1FC, &nValue), 0);
    EXPECT_EQ(nValue, 0xCAFEF00Du);
    EXPECT_EQ(KynDrvReadReg32(m_hBridge, 0x200, &nValue), KynError(KYN_ERR_OUTSIDE));
    EXPECT_EQ(KynDrvReadReg32(m_hBridge, 0x002, &nValue), KynError(KYN_ERR_MISALIGNED));
    uint8_t nByte = 0;
    EXPECT_EQ(KynDrvReadReg8(m_hBridge, 0x000, &nByte), SIM_ERR_ACCESS_WIDTH);
    for (uint32_t nAddress = 0; nAddress < 0x200; nAddress += 4)
        EXPECT_EQ(KynDrvReadReg32(m_hBridge, nAddress, &nValue), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(KynDrvDbgDump(m_hBoard, 3), 0);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(KynDrvReadReg32(m_hBridge, 0x1FC, &nValue), 0);
    EXPECT_EQ(nValue, 0u);
}

TEST_F(SimBoard, BoardsWithoutBridgeHaveNone)
{
    for (uint32_t nType : {67u, 69u, 70u, 71u, 72u}) {
        KYN_HANDLE hBoard = 0, hBridge = 0;
        ASSERT_EQ(KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, nType, 0, &hBoard), 0);
        EXPECT_EQ(KynDrvGetDeviceHandle(hBoard, KYN_DEVICE_TYPE_PCI_BRIDGE, 0, &hBridge), KynError(KYN_ERR_NO_SUCH_DEVICE));
        EXPECT_EQ(hBridge, 0);
    }
}

TEST_F(SimBoard, AttributesAndTheirSizes)
{
    uint32_t nKind = 0, nSize = 0, nFlags = 0;
    ASSERT_EQ(KynDrvGetAttributeType(m_hBoard, KYN_ATTR_SERIAL_NUMBER, &nKind, &nSize, &nFlags), 0);
    EXPECT_EQ(nKind, KYN_ATTR_KIND_SZ);
    EXPECT_EQ(nSize, 13u); // "KS-006-04711" and its terminator
    ASSERT_EQ(KynDrvGetAttributeType(m_hBoard, KYN_ATTR_DEVICE_TYPE, &nKind, &nSize, &nFlags), 0);
    EXPECT_EQ(nKind, KYN_ATTR_KIND_UINT32);
    EXPECT_EQ(nSize, 4u);
    uint32_t nValue = 0;
    ASSERT_EQ(KynDrvGetAttributeValueUint32(m_hBridge, KYN_ATTR_DEVICE_TYPE, &nValue), 0);
    EXPECT_EQ(nValue, 24u);
    char szText[8];
    EXPECT_EQ(KynDrvGetAttributeValueSz(m_hBoard, KYN_ATTR_SERIAL_NUMBER, szText, sizeof szText),
              KynError(KYN_ERR_BUFFER_TOO_SMALL));
    EXPECT_STREQ(szText, "KS-006-");
    EXPECT_EQ(KynDrvGetAttributeValueSz(m_hBoard, KYN_ATTR_DEVICE_TYPE, szText, sizeof szText),
              KynError(KYN_ERR_ATTRIBUTE_KIND));
    KYN_HANDLE hPcmcia = 0;
    ASSERT_EQ(KynDrvGetDeviceHandle(KYN_HANDLE_DRIVER, 7, 0, &hPcmcia), 0);
    EXPECT_EQ(KynDrvGetAttributeType(hPcmcia, KYN_ATTR_CPLD_BUILD, &nKind, &nSize, &nFlags),
              KynError(KYN_ERR_NO_SUCH_ATTRIBUTE));
}

TEST_F(SimBoard, UnknownDebugCommandsAndHandlesFail)
{
    EXPECT_EQ(KynDrvDbgDump(m_hBoard, 4), SIM_ERR_UNKNOWN_DEBUG_COMMAND);
    EXPECT_EQ(KynDrvDbgDump(m_hBoard, -1), SIM_ERR_UNKNOWN_DEBUG_COMMAND);
    EXPECT_EQ(KynDrvDbgDump(0x7777, 0), KynError(KYN_ERR_INVALID_HANDLE));
}

// The library's own result codes and their texts, as the README documents them.
TEST(SimResults, DocumentedCodesHaveTheirTextsAndOthersNone)
{
    struct {
        uint32_t nCode;
        const char *pszText;
    } aCases[] = {
        {0x80800106u, "Invalid parameter (null pointer or zero size)."},
        {0x8080010Cu, "The library is not connected to the KYN driver."},
        {0x80800205u, "The buffer is too small for the attribute value."},
        {0x80800223u, "The object has no such attribute."},
        {0x80800224u, "The attribute has another value type."},
        {0x80800321u, "Invalid device handle."},
        {0x80800322u, "No such device present."},
        {0x80800407u, "The driver is out of memory."},
        {0x80800431u, "Register address is not aligned to the access width."},
        {0x80800432u, "Register address is outside the device window."},
        {0x80800433u, "The device does not support this access width."},
        {0x80800540u, "Unknown debug command."},
    };
    char szText[256];
    for (const auto &c : aCases) {
        ASSERT_GE(KynDrvResultCode2String(0, (KYN_RESULT)c.nCode, sizeof szText, szText), 0) << c.nCode;
        EXPECT_STREQ(szText, c.pszText);
    }
    EXPECT_LT(KynDrvResultCode2String(0, (KYN_RESULT)0x8ABCDE55u, sizeof szText, szText), 0);
    EXPECT_LT(KynDrvResultCode2String(0, 0, sizeof szText, szText), 0);
}

TEST(SimSettingsParser, AcceptsWellFormedSettings)
{
    SimSettings settings;
    std::string strError;
    ASSERT_TRUE(SimParseSettings({{"KYNSIM_CONNECT", "-2147483637"},
                                  {"KYNSIM_FAIL", "ReadReg32:0x80800A25@0x10,KynDrvWriteReg8:-1#3,DbgDump:-5"},
                                  {"KYNSIM_NO_ATTR", "board:2,bridge:3"},
                                  {"KYNSIM_NO_TEXT", "-1,0x80000001"},
                                  {"KYNSIM_MEMORY", "stuck-high=0x100,stuck-low=0x1"},
                                  {"KYNSIM_TIME", "0xFFFFFFFFFFFFFFFF"},
                                  {"KYNSIM_BOARDS", "2,6:0,*:3"},
                                  {"KYNSIM_KEYS", "0x172,-1,0xFFFFFFFE"},
                                  {"KYNSIM_HANDLES", "0x7FFFFBFF"}},
                                 settings, strError))
        << strError;
    EXPECT_EQ(settings.nConnectResult, (KYN_RESULT)0x8000000Bu);
    ASSERT_EQ(settings.aFailRules.size(), 3u);
    EXPECT_EQ(settings.aFailRules[0].eOp, KYN_OP_READ_REG32);
    EXPECT_EQ(settings.aFailRules[0].eWhen, SIM_FAIL_AT);
    EXPECT_EQ(settings.aFailRules[0].nMatch, 0x10u);
    EXPECT_EQ(settings.aFailRules[1].eOp, KYN_OP_WRITE_REG8);
    EXPECT_EQ(settings.aFailRules[1].eWhen, SIM_FAIL_ON_CALL);
    EXPECT_EQ(settings.aFailRules[1].nMatch, 3u);
    EXPECT_EQ(settings.aFailRules[2].eWhen, SIM_FAIL_ALWAYS);
    EXPECT_TRUE(settings.abOpHasRule[KYN_OP_DBG_DUMP]);
    EXPECT_FALSE(settings.abOpHasRule[KYN_OP_READ_REG8]);
    EXPECT_EQ(settings.anAbsentAttrs[SIM_OBJ_BRIDGE].size(), 1u);
    EXPECT_EQ(settings.nStuckHigh, 0x100u);
    EXPECT_EQ(settings.nStuckLow, 0x1u);
    EXPECT_EQ(settings.nFixedTime, UINT64_MAX);
    EXPECT_EQ(settings.nDefaultBoardCount, 3u);
    EXPECT_EQ(settings.aBoardCounts.size(), 1u);
    EXPECT_EQ(settings.anKeys, (std::vector<int32_t>{0x172, OSA_KEY_END_OF_INPUT, OSA_KEY_READ_ERROR}));
    EXPECT_EQ(settings.hFirstDevice, 0x7FFFFBFF);
    // The lowest first handle, clear of the library's, the driver's and none.
    ASSERT_TRUE(SimParseSettings({{"KYNSIM_HANDLES", "1"}}, settings, strError)) << strError;
    EXPECT_EQ(settings.hFirstDevice, 1);
}

TEST(SimSettingsParser, RefusesMalformedSettings)
{
    const std::pair<const char *, const char *> aBad[] = {
        {"KYNSIM_CONNECT", ""},          {"KYNSIM_CONNECT", "0x100000000"}, {"KYNSIM_CONNECT", "-2147483649"},
        {"KYNSIM_CONNECT", "11 "},       {"KYNSIM_FAIL", ""},               {"KYNSIM_FAIL", "ReadReg32:-1@"},
        {"KYNSIM_FAIL", "ReadReg32:0"},  {"KYNSIM_FAIL", "ReadReg32:-1,"},  {"KYNSIM_NO_ATTR", "board:"},
        {"KYNSIM_NO_TEXT", "some"},      {"KYNSIM_MEMORY", "zeros"},        {"KYNSIM_TIME", "-1"},
        {"KYNSIM_TIME", "0x1FFFFFFFFFFFFFFFF"}, {"KYNSIM_BOARDS", "x:1"},   {"KYNSIM_TRACE", ""},
        {"KYNSIM_", "1"},                {"KYNSIM_KEYS", "0x100000000"},    {"KYNSIM_KEYS", "q"},
        {"KYNSIM_HANDLES", "0"},         {"KYNSIM_HANDLES", "0x7FFFFC00"},  {"KYNSIM_HANDLES", "-2"},
    };
    for (const auto &bad : aBad) {
        SimSettings settings;
        std::string strError;
        EXPECT_FALSE(SimParseSettings({{bad.first, bad.second}}, settings, strError)) << bad.first << bad.second;
        EXPECT_EQ(strError.rfind(std::string("kynsim: bad setting ") + bad.first + "=" + bad.second + ": ", 0), 0u)
            << strError;
    }
}

} // namespace
