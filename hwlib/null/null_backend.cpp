// null_backend.cpp - the smallest back end over the front: its table, a driver that connects, and the
// texts of its failures. The tests build it to prove the steps that add a back end
// (docs/maintainers.md).
#include "kyn_front.h"
#include "osa_library.h"

// null_boards.cpp: the boards, their attributes and their registers.
KYN_RESULT NullOpenDevice(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber, KYN_HANDLE *phDevice);
KYN_RESULT NullLookUpAttr(const KynObject *pDevice, uint32_t nId, KynAttrValue &value);
KYN_RESULT NullRead(KynObject &board, uint32_t nAddress, uint32_t nWidth, uint32_t *pnValue);
KYN_RESULT NullWrite(KynObject &board, uint32_t nAddress, uint32_t nWidth, uint32_t nValue);

namespace {

std::string StartConsole()
{
    return "";
}

KYN_RESULT Enter(KynOp, uint32_t)
{
    return KYN_OK;
}

KYN_RESULT Connect(bool &bConnected)
{
    bConnected = true;
    return KYN_OK;
}

KYN_RESULT Release()
{
    return KYN_OK;
}

KYN_RESULT Debug(KynObject &, int32_t)
{
    return KynError(KYN_ERR_INVALID_PARAMETER);
}

const char *ResultText(KYN_RESULT nResult)
{
    if (nResult == KynError(KYN_ERR_NOT_CONNECTED))
        return "The null library is not connected.";
    if (nResult == KynError(KYN_ERR_NO_SUCH_DEVICE))
        return "The null library has board number 0 of each type, and no bridge.";
    if (nResult == KynError(KYN_ERR_OUTSIDE))
        return "A board of the null library has no registers.";
    return KynSharedResultText(nResult);
}

constexpr KynBackEnd Table()
{
    KynBackEnd table = {};
    table.nLibrary = KYN_LIBRARY_TEST;
    table.pszTraceName = "kynnull";
    table.pszTraceSetting = "KYNNULL_TRACE";
    table.pszVersion = "0.0.0 (null)";
    table.pszFileName = "libkynhwnull.a";
    table.bStaticLinked = true;
    table.pfnStartConsole = StartConsole;
    table.pfnEnter = Enter;
    table.pfnConnect = Connect;
    table.pfnRelease = Release;
    table.pfnLookUpAttr = NullLookUpAttr;
    table.pfnOpenDevice = NullOpenDevice;
    table.pfnRead = NullRead;
    table.pfnWrite = NullWrite;
    table.pfnDebug = Debug;
    table.pfnResultText = ResultText;
    table.pfnTime = OsaTime100ns;
    return table;
}

} // namespace

extern constexpr KynBackEnd g_kynBackEnd = Table();
