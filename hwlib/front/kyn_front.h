// kyn_front.h - the hardware libraries' front: the table of operations each back end fills in, and what
// the front gives every back end (the shared result codes and texts, attribute values, the fast path).
#ifndef KYN_FRONT_H
#define KYN_FRONT_H

#include <signal.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "KynHwDll.h"

// Result codes: failure bit, upper field naming the library, middle field naming the area, code number.
#define KYN_FAILURE(nLibrary, nMiddle, nCode) \
    ((KYN_RESULT)(0x80000000u | ((uint32_t)(nLibrary) << 23) | ((uint32_t)(nMiddle) << 8) | (uint32_t)(nCode)))

const KYN_RESULT KYN_OK = 0;

// The result codes' library field of each library built on the front: one list, so that no two
// give the same codes.
enum KynLibraryNumber : uint32_t {
    KYN_LIBRARY_SIM = 1, // the simulated library
    KYN_LIBRARY_PCI = 2, // the PCI library
    KYN_LIBRARY_TEST = 3, // the tests' null back end
};

// The codes every back end gives, as area and number: KynError adds the failure bit and the library.
enum KynSharedCode : uint32_t {
    KYN_ERR_INVALID_PARAMETER = 0x106,
    KYN_ERR_NOT_CONNECTED = 0x10C,
    KYN_ERR_BUFFER_TOO_SMALL = 0x205,
    KYN_ERR_NO_SUCH_ATTRIBUTE = 0x223,
    KYN_ERR_ATTRIBUTE_KIND = 0x224,
    KYN_ERR_INVALID_HANDLE = 0x321,
    KYN_ERR_NO_SUCH_DEVICE = 0x322,
    KYN_ERR_MISALIGNED = 0x431,
    KYN_ERR_OUTSIDE = 0x432,
};
// The whole code of a shared one, in the library this is linked into.
KYN_RESULT KynError(KynSharedCode eCode);
// The text of a shared code that reads the same in every library; null for the others.
const char *KynSharedResultText(KYN_RESULT nResult);
// A failure with a text of its own (naming the device, the register, the setting that decides),
// remembered: the result's text from now on, until another failure with the same code gives one.
KYN_RESULT KynFailWithText(KYN_RESULT nResult, const std::string &strText);
// The text the last failure with this code gave; null for none.
const char *KynRememberedText(KYN_RESULT nResult);

// The calls, by the names the trace and the simulated library's KYNSIM_FAIL use.
enum KynOp {
    KYN_OP_CONNECT_LIB,
    KYN_OP_RELEASE_LIB,
    KYN_OP_GET_ATTRIBUTE_TYPE,
    KYN_OP_GET_ATTRIBUTE_VALUE_SZ,
    KYN_OP_GET_ATTRIBUTE_VALUE_BOOL,
    KYN_OP_GET_ATTRIBUTE_VALUE_UINT32,
    KYN_OP_GET_DEVICE_HANDLE,
    KYN_OP_READ_REG8,
    KYN_OP_READ_REG16,
    KYN_OP_READ_REG32,
    KYN_OP_WRITE_REG8,
    KYN_OP_WRITE_REG16,
    KYN_OP_WRITE_REG32,
    KYN_OP_DBG_DUMP,
    KYN_OP_RESULT_CODE_2_STRING,
    KYN_OP_GET_CURRENT_TIME,
    KYN_OP_COUNT
};
// "ReadReg32"; "?" for no call.
const char *KynOpName(KynOp eOp);
// The call a name gives, with or without "KynDrv" before it; KYN_OP_COUNT for none.
KynOp KynFindOp(const std::string &strName);

// An attribute of the library (-2), the driver (0) or a device: its kind and value or text.
enum KynValueKind { KYN_VALUE_NONE, KYN_VALUE_BOOL, KYN_VALUE_UINT32, KYN_VALUE_SZ };
struct KynAttrValue {
    KynValueKind eKind = KYN_VALUE_NONE;
    uint32_t nValue = 0;
    std::string strText;
};

// A device a back end opened: a board, or a board's bridge (type 24 number 0). The front keeps every
// one in its table, names it by handle and answers its type and number; a back end's own devices
// derive from it.
struct KynObject {
    KYN_HANDLE hHandle = 0;
    KYN_HANDLE hParent = KYN_HANDLE_DRIVER; // the board, for a bridge
    uint32_t nType = 0, nNumber = 0;        // as asked for
    bool bBridge = false;
    virtual ~KynObject() = default;
};

// What differs between back ends. The front checks the arguments, that the driver is connected and
// that a handle names a device, answers the library's attributes and each device's type and number,
// writes the trace and takes the 32-bit fast path; a back end sees only calls that passed.
struct KynBackEnd {
    uint32_t nLibrary;           // the result codes' library field
    const char *pszTraceName;    // "kynsim": the library as its bad settings name it
    const char *pszTraceSetting; // "KYNSIM_TRACE"
    // The library's attributes.
    const char *pszVersion;
    const char *pszFileName;
    bool bStaticLinked;
    // The first device's handle, asked when the first is added; null for 0x20.
    KYN_HANDLE (*pfnFirstHandle)();
    // Reads the settings (a malformed one ends the run) and hands the console what they say;
    // returns the trace file's name, or "".
    std::string (*pfnStartConsole)();
    // Every call first, after a waiting interrupt has ended the run: KYN_OK, or a failure the call
    // then returns at once (the simulated library's injected ones).
    KYN_RESULT (*pfnEnter)(KynOp eOp, uint32_t nArgument);
    // bConnected says whether the driver is connected, before and after.
    KYN_RESULT (*pfnConnect)(bool &bConnected);
    KYN_RESULT (*pfnRelease)();
    // Whether the settings make an attribute absent that the object would have; null for none.
    // pObject is the device, null for the library and the driver.
    bool (*pfnAttrHidden)(KYN_HANDLE hObject, const KynObject *pObject, uint32_t nId);
    // The driver's attributes (pObject null) and each device's beyond its type and number: leaves the
    // value's kind KYN_VALUE_NONE for an attribute the object has not.
    KYN_RESULT (*pfnLookUpAttr)(const KynObject *pObject, uint32_t nId, KynAttrValue &value);
    // A device under hParent, the driver or a board: an opened one's handle again, or a new one's
    // from KynAddObject.
    KYN_RESULT (*pfnOpenDevice)(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber, KYN_HANDLE *phDevice);
    // A few words on an opened device for the trace's GetDeviceHandle line: the way every later call
    // on it takes ("vfio 0000:03:00.0"); null for none, or a back end that has one way only.
    const char *(*pfnDeviceNote)(const KynObject &device);
    // One register access of 1, 2 or 4 bytes; a read is zero-extended.
    KYN_RESULT (*pfnRead)(KynObject &device, uint32_t nAddress, uint32_t nWidth, uint32_t *pnValue);
    KYN_RESULT (*pfnWrite)(KynObject &device, uint32_t nAddress, uint32_t nWidth, uint32_t nValue);
    KYN_RESULT (*pfnDebug)(KynObject &device, int32_t nCommand);
    // The text of a result, this back end's or a shared one; null for none.
    const char *(*pfnResultText)(KYN_RESULT nResult);
    uint64_t (*pfnTime)();
};
// Defined once in each library: its back end.
extern const KynBackEnd g_kynBackEnd;

// The devices opened, by handle (kyn_objects.cpp): the first handle plus the place in the order they
// were added. The front owns them; they stay until KynForgetObjects.
KYN_HANDLE KynAddObject(KynObject *pObject);
KynObject *KynFindObject(KYN_HANDLE hObject);
// The device opened under hParent as nType number nNumber, or null.
KynObject *KynFindOpened(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber);
size_t KynObjectCount();
KynObject *KynObjectAt(size_t nIndex);
void KynForgetObjects();
// Whether ConnectLib connected the driver, until ReleaseLib; the front's entry points set it.
bool KynConnected();
void KynSetConnected(bool bConnected);
// An attribute of the library (KYN_HANDLE_LIBRARY), the driver or a device: the checks, the ones the
// front answers, then the back end's.
KYN_RESULT KynLookUpAttr(KYN_HANDLE hObject, uint32_t nId, KynAttrValue &value);

// Copies a text into a caller's buffer of nBufferSize bytes, always terminated.
KYN_RESULT KynCopyText(const std::string &strText, char *pszBuffer, uint32_t nBufferSize);

// The 32-bit accesses' fast path, the memory test's: after a checked access succeeded, a back end
// may hand the front a window of a device in plain memory, and 32-bit accesses to aligned addresses
// inside it skip every check. Not while every call is traced, nor once an interrupt waits (the
// handler closes the window, so the next access goes the checked way and ends the run).
// pBase is where address 0 of the device would be; the window holds nFirst to nLast, 32-bit aligned.
void KynOpenFastWindow(KYN_HANDLE hDevice, volatile uint8_t *pBase, uint32_t nFirst, uint32_t nLast);
void KynCloseFastWindow();
// Whether a 32-bit access to nAddress of hDevice would take the fast path now: for the tests, as its
// results are by design the checked way's.
bool KynFastPathTakes(KYN_HANDLE hDevice, uint32_t nAddress);
// What fast accesses return: KYN_OK, or a failure once the window went away under them (a SIGBUS
// guard sets it from its handler).
extern volatile KYN_RESULT g_nKynFastResult;

#endif
