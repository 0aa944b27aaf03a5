// null_backend.cpp - a back end with no boards, the smallest over the front: its table, a driver that
// connects, and every device asked for not there. The tests build it to prove the steps that add a
// back end (docs/maintainers.md).
#include "kyn_front.h"
#include "osa_library.h"

// null_attributes.cpp: the attributes of the library and the driver.
KYN_RESULT NullLookUpAttr(KYN_HANDLE hObject, uint32_t nId, KynAttrValue &value);

namespace {

bool g_bConnected = false;

std::string StartConsole()
{
    return "";
}

KYN_RESULT Enter(KynOp, uint32_t)
{
    return KYN_OK;
}

KYN_RESULT Connect()
{
    g_bConnected = true;
    return KYN_OK;
}

KYN_RESULT Release()
{
    g_bConnected = false;
    return KYN_OK;
}

KYN_RESULT OpenDevice(KYN_HANDLE, uint32_t, uint32_t, KYN_HANDLE *)
{
    return KynError(g_bConnected ? KYN_ERR_NO_SUCH_DEVICE : KYN_ERR_NOT_CONNECTED);
}

KYN_RESULT Read(KYN_HANDLE, uint32_t, uint32_t, uint32_t *)
{
    return KynError(KYN_ERR_INVALID_HANDLE);
}

KYN_RESULT Write(KYN_HANDLE, uint32_t, uint32_t, uint32_t)
{
    return KynError(KYN_ERR_INVALID_HANDLE);
}

KYN_RESULT Debug(KYN_HANDLE, int32_t)
{
    return KynError(KYN_ERR_INVALID_HANDLE);
}

constexpr KynBackEnd Table()
{
    KynBackEnd table = {};
    table.nLibrary = KYN_LIBRARY_TEST;
    table.pszTraceName = "kynnull";
    table.pszTraceSetting = "KYNNULL_TRACE";
    table.pfnStartConsole = StartConsole;
    table.pfnEnter = Enter;
    table.pfnConnect = Connect;
    table.pfnRelease = Release;
    table.pfnLookUpAttr = NullLookUpAttr;
    table.pfnOpenDevice = OpenDevice;
    table.pfnRead = Read;
    table.pfnWrite = Write;
    table.pfnDebug = Debug;
    table.pfnResultText = KynSharedResultText;
    table.pfnTime = OsaTime100ns;
    return table;
}

} // namespace

bool NullConnected()
{
    return g_bConnected;
}

extern constexpr KynBackEnd g_kynBackEnd = Table();
