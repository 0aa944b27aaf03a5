// sim_internal.h - what the simulated library's parts share: its own result codes, settings, devices, memory.
#ifndef KYNSIM_INTERNAL_H
#define KYNSIM_INTERNAL_H

#include <signal.h>
#include <stdint.h>
#include <time.h>

#include <string>
#include <vector>

#include "KynHwDll.h"
#include "duze_limits.h"
#include "kyn_front.h"
#include "osa_library.h"
#include "osa_settings.h"

// This library's own result codes, beside the shared ones (kyn_front.h): upper field 1.
#define SIM_FAILURE(nMiddle, nCode) KYN_FAILURE(KYN_LIBRARY_SIM, nMiddle, nCode)
enum : int32_t {
    SIM_ERR_OUT_OF_MEMORY = SIM_FAILURE(4, 0x07),
    SIM_ERR_ACCESS_WIDTH = SIM_FAILURE(4, 0x33),
    SIM_ERR_UNKNOWN_DEBUG_COMMAND = SIM_FAILURE(5, 0x40),
};

// One injected failure: the operation fails with nResult always, when its
// second argument (address, attribute id, device type or command) equals nMatch,
// or on its nCall-th call.
enum SimFailWhen { SIM_FAIL_ALWAYS, SIM_FAIL_AT, SIM_FAIL_ON_CALL };
struct SimFailRule {
    KynOp eOp;
    KYN_RESULT nResult;
    SimFailWhen eWhen;
    uint32_t nMatch;
};

// Object kinds whose attributes can be made absent.
enum SimObjectKind { SIM_OBJ_LIBRARY, SIM_OBJ_DRIVER, SIM_OBJ_BOARD, SIM_OBJ_BRIDGE, SIM_OBJ_COUNT };

struct SimSettings {
    KYN_RESULT nConnectResult = 0;
    std::vector<SimFailRule> aFailRules;
    bool abOpHasRule[KYN_OP_COUNT] = {};
    std::vector<uint32_t> anAbsentAttrs[SIM_OBJ_COUNT];
    bool bNoTextForAll = false;
    std::vector<KYN_RESULT> anNoText;
    bool bMemoryReadsZero = false;
    bool bMemoryEchoesAddress = false; // whole 32-bit space, every word reads its own address
    uint32_t nStuckHigh = 0; // bits that always read 1
    uint32_t nStuckLow = 0;  // bits that always read 0
    bool bFixedTime = false;
    uint64_t nFixedTime = 0;
    uint32_t nDefaultBoardCount = 1;
    std::vector<std::pair<uint32_t, uint32_t>> aBoardCounts; // board type code, count
    std::string strTracePath;
    bool bTrace = false;
    std::vector<int32_t> anKeys; // key codes the console returns before any other input
    KYN_HANDLE hFirstDevice = 0x20; // the first device's handle; the next ones count up from it
    OsaConsoleRules consoleRules;   // how the console ends lines where the interface leaves it open
    std::string strImage;           // KYNSIM_IMAGE: a saved board image, as given
    std::string strImageBytes;      // its first memory BAR, what every board's memory starts as
};

// Settings, read once from the environment on first use.
const SimSettings &SimGetSettings();

// Parses all settings from name=value pairs; on a malformed one returns false and
// puts a message naming it in strError.  Exposed for the unit tests.
bool SimParseSettings(const OsaNameValues &aValues, SimSettings &settings, std::string &strError);

// Devices and memory (sim_devices.cpp) ----------------------------------------------------

// A board type the simulated driver knows: its code, whether it has a bridge and a CPLD text.
struct SimBoardType {
    uint32_t nCode;
    bool bBridge;
    bool bCpld;
};
extern const SimBoardType g_aSimBoardTypes[];
extern const size_t g_nSimBoardTypeCount;

// Board window: 64 MiB from address 0, kept in 64 KiB pages allocated on first write. The
// limits on boards and devices are in duze_limits.h.
const uint32_t kSimWindowSize = 64u << 20;
const uint32_t kSimPageShift = 16;
const uint32_t kSimPageSize = 1u << kSimPageShift;
const uint32_t kSimPageCount = kSimWindowSize >> kSimPageShift;
const uint32_t kSimBridgeRegCount = 128;

// A board or its bridge; the front's part holds its handle, parent, type and number.
struct SimDevice : KynObject {
    bool bCpld;
    uint8_t *pWindow;                // board window, reserved on first write
    uint8_t *apPages[kSimPageCount]; // its 64 KiB pages; null until first written
    uint32_t anRegs[kSimBridgeRegCount];
    uint32_t anWritable[kSimBridgeRegCount];
};

// The device of a type and number under a parent (the driver, or a board for its bridge),
// opened on first use; the same device always answers with the same handle.
KYN_RESULT SimOpenDevice(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber, KYN_HANDLE *phDevice);

// Whether KYNSIM_NO_ATTR makes an attribute of the library, the driver or a device absent.
bool SimAttrHidden(KYN_HANDLE hObject, const KynObject *pObject, uint32_t nId);
// The driver's attributes (pObject null) and a board's serial number, build number and CPLD text.
KYN_RESULT SimLookUpAttr(const KynObject *pObject, uint32_t nId, KynAttrValue &value);

// Register accesses of 1, 2 or 4 bytes; reads are zero-extended.
KYN_RESULT SimReadRegister(KynObject &device, uint32_t nAddress, uint32_t nWidth, uint32_t *pnValue);
KYN_RESULT SimWriteRegister(KynObject &device, uint32_t nAddress, uint32_t nWidth, uint32_t nValue);
// The debug commands' actions on a device: 0 lists the open devices, 1 shows the board
// memory in use, 2 clears it, 3 resets the bridge registers; others are unknown.
KYN_RESULT SimDebugAction(KynObject &device, int32_t nCommand);

// Result texts (sim_results.cpp) --------------------------------------------------------------

// The text of a result code, this library's or a shared one; null for others and those KYNSIM_NO_TEXT names.
const char *SimResultText(KYN_RESULT nResult);

// The boards' memory (sim_host_posix.cpp, sim_host_win32.cpp): a window of nSize bytes that
// reads 0 until written and costs memory only where touched; null when the host has no room.
// Discarding makes it read 0 again.
uint8_t *SimHostReserveWindow(size_t nSize);
void SimHostDiscardWindow(uint8_t *pWindow, size_t nSize);
// Whether the path is a plain file, not reached through a link of its own.
bool SimHostIsPlainFile(const std::string &strPath);
// Holds a directory open for the run (a board image's), so that an output the run writes (a log, a
// report) can tell the files beneath it are inputs; nothing where the host cannot tell.
void SimHostHoldDirectory(const std::string &strPath);

#endif
