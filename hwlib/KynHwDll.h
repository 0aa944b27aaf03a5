/* KynHwDll.h - the C interface of the KYN boards' hardware library, the only way the tool reaches it. */
#ifndef KYNHWDLL_H
#define KYNHWDLL_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(KYNHW_SHARED)
#  ifdef KYNHW_BUILDING
#    define KYNHW_API __declspec(dllexport)
#  else
#    define KYNHW_API __declspec(dllimport)
#  endif
#elif defined(KYNHW_SHARED) && defined(__GNUC__)
#  define KYNHW_API __attribute__((visibility("default")))
#else
#  define KYNHW_API
#endif

/* The library's calling convention: empty for cdecl, __stdcall where the library is built
   so (32-bit Windows; CMake's KYN_HW_CALLCONV sets it for tool and library alike). A tool
   built with the other convention does not link against the library's import library. */
#ifndef KYNHW_CALL
#  define KYNHW_CALL
#endif

/* Interrupts (Ctrl-C, SIGTERM and the like, where the host has them) end the run at the next
   call of the library, through exit with status 128 + the signal's number; a call the tool makes
   after a wait of its own was interrupted lets that happen. */

/* Result of every KynDrv operation: negative is failure.  Bit 31 failure flag,
   bits 23-30 upper field, bits 8-22 middle field, bits 0-7 code number. */
typedef int32_t KYN_RESULT;

/* A library object: -2 is the library itself, 0 the driver. */
typedef int32_t KYN_HANDLE;

#define KYN_HANDLE_LIBRARY ((KYN_HANDLE)-2)
#define KYN_HANDLE_DRIVER  ((KYN_HANDLE)0)

/* Attribute ids the tool reads. */
#define KYN_ATTR_DEVICE_TYPE    2u
#define KYN_ATTR_DEVICE_NUMBER  3u
#define KYN_ATTR_VERSION        9u  /* library and driver */
#define KYN_ATTR_SERIAL_NUMBER  9u  /* board */
#define KYN_ATTR_BUILD_NUMBER  10u  /* board */
#define KYN_ATTR_FILE_NAME     11u  /* library */
#define KYN_ATTR_STATIC_LINKED 12u  /* library */
#define KYN_ATTR_CPLD_BUILD    12u  /* board */
/* Where a library knows them: the bytes of a board's register space (the simulated board's window,
   the PCI board's BAR) or of a bridge's (the device's configuration space, 256 or 4096), and where
   the device sits ("0000:03:00.0", the PCI library). */
#define KYN_ATTR_REGISTER_SPACE 13u /* board, bridge */
#define KYN_ATTR_LOCATION       14u /* board, bridge */

/* Attribute value kinds reported by KynDrvGetAttributeType. */
#define KYN_ATTR_KIND_BOOL   1u
#define KYN_ATTR_KIND_UINT32 2u
#define KYN_ATTR_KIND_SZ     3u

/* Device type of a board's PCI bridge, opened under the board handle. */
#define KYN_DEVICE_TYPE_PCI_BRIDGE 24u

KYNHW_API KYN_RESULT KYNHW_CALL KynDrvConnectLib(void);
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvReleaseLib(void);

KYNHW_API KYN_RESULT KYNHW_CALL KynDrvGetAttributeType(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnKind,
                                                       uint32_t *pnSize, uint32_t *pnFlags);
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueSz(KYN_HANDLE hObject, uint32_t nId, char *pszBuffer,
                                                          uint32_t nBufferSize);
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueBool(KYN_HANDLE hObject, uint32_t nId, uint32_t *pbValue);
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvGetAttributeValueUint32(KYN_HANDLE hObject, uint32_t nId, uint32_t *pnValue);

KYNHW_API KYN_RESULT KYNHW_CALL KynDrvGetDeviceHandle(KYN_HANDLE hParent, uint32_t nDeviceType, uint32_t nDeviceNumber,
                                                      KYN_HANDLE *phDevice);

KYNHW_API KYN_RESULT KYNHW_CALL KynDrvReadReg8(KYN_HANDLE hDevice, uint32_t nAddress, uint8_t *pnValue);
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvReadReg16(KYN_HANDLE hDevice, uint32_t nAddress, uint16_t *pnValue);
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvReadReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t *pnValue);
/* Writes take the whole 32-bit value; the 8- and 16-bit writes store its low bits. */
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvWriteReg8(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue);
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvWriteReg16(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue);
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvWriteReg32(KYN_HANDLE hDevice, uint32_t nAddress, uint32_t nValue);

KYNHW_API KYN_RESULT KYNHW_CALL KynDrvDbgDump(KYN_HANDLE hDevice, int32_t nCommand);

/* Text for a result; negative when the library has none.  hObject is 0. */
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvResultCode2String(KYN_HANDLE hObject, KYN_RESULT nResult, uint32_t nBufferSize,
                                                        char *pszBuffer);

/* 100-ns intervals since 1601-01-01 00:00 UTC. */
KYNHW_API KYN_RESULT KYNHW_CALL KynDrvGetCurrentTime(uint64_t *pnTime);

/* Console, sleep and host helpers. */
KYNHW_API void KYNHW_CALL OsaConsoleInit(void);
KYNHW_API void KYNHW_CALL OsaConsoleExit(void);
/* Output formatted as by the printf family: the text's length, or a negative value when the
   console cannot be written (errno tells why); once that happened every later call fails and
   writes nothing. Text for a console that is not a terminal may be held and written later:
   before the next key or line read, at OsaConsoleExit, or at a call with an empty text (""),
   which writes what is held and says whether that worked. */
KYNHW_API int32_t KYNHW_CALL OsaConsolePrintF(const char *pszFormat, va_list args);
/* Later key and line reads take their characters from pszText first; it stays valid for the run. */
KYNHW_API void KYNHW_CALL OsaConsoleInput(const char *pszText);
/* One key. When no key can be had once the command string is used up, one of the two codes
   below; once the input has ended or failed, every later read says so again. Every other code,
   negative or above 0xFF, is a key. At the keyboard a key that is no character (an arrow, a
   function or editing key) comes as two codes, 0 or 0xE0 and then its scan code, as the Windows
   console gives them. Only the keyboard's keys pair: a byte 0 or 0xE0 of the command string
   comes as one code, 0x100 or 0x1E0, whose low 8 bits are the byte. How lines of the command string end, and whether and how a typed line is
   echoed, are the library's choice: the tool relies on neither. */
#define OSA_KEY_END_OF_INPUT ((int32_t)-1) /* standard input or the keyboard is at its end */
#define OSA_KEY_READ_ERROR   ((int32_t)-2) /* reading standard input or the keyboard failed */
KYNHW_API int32_t KYNHW_CALL OsaConsoleGetCh(void);
/* One line without its end into a 64-byte buffer, at most 63 characters; empty on Enter.
   NULL when no whole line came: the input ended or failed before the line began, or a failed
   read cut it short, at the keyboard also its end or hang-up (OsaConsoleGetCh then tells which).
   The last line of a pipe or file needs no line end. */
KYNHW_API char *KYNHW_CALL OsaConsoleGetStr(char *pszBuffer);
KYNHW_API void KYNHW_CALL OsaThreadSleep(int32_t nMilliseconds);
KYNHW_API char *KYNHW_CALL OsaStdStrUpr(char *pszText);

/* Local time of a count of seconds since 1970-01-01 00:00 UTC. */
typedef struct OSA_LOCAL_TIME {
    int32_t nSecond;
    int32_t nMinute;
    int32_t nHour;
    int32_t nDayOfMonth;
    int32_t nMonth; /* 0 to 11 */
} OSA_LOCAL_TIME;

/* NULL when the host cannot convert the count, and for counts of 1,833,029,933,770 and more. */
KYNHW_API const OSA_LOCAL_TIME *KYNHW_CALL OsaStdLocalTime(const uint64_t *pnSeconds);

#ifdef __cplusplus
}
#endif

#endif /* KYNHWDLL_H */
