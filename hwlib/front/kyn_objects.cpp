// kyn_objects.cpp - what every back end would otherwise keep alike: the table of opened devices and
// their handles, whether the driver is connected, and the attributes that read the same everywhere.
#include <vector>

#include "kyn_front.h"

namespace {

// Opened devices in the order they were added; a handle is the first handle plus the index. Never
// destroyed: a back end that keeps its devices for the run keeps them reachable to the end, and a
// call made while static objects are destroyed still finds them.
std::vector<KynObject *> &g_apObjects = *new std::vector<KynObject *>();
// The back end's first handle, asked again whenever the table starts anew.
KYN_HANDLE g_hFirstHandle = 0x20;
// Set by ConnectLib as the back end says, cleared by ReleaseLib.
bool g_bConnected = false;

} // namespace

KYN_HANDLE KynAddObject(KynObject *pObject)
{
    if (g_apObjects.empty())
        g_hFirstHandle = g_kynBackEnd.pfnFirstHandle != nullptr ? g_kynBackEnd.pfnFirstHandle() : 0x20;
    pObject->hHandle = g_hFirstHandle + (KYN_HANDLE)g_apObjects.size();
    g_apObjects.push_back(pObject);
    return pObject->hHandle;
}

KynObject *KynFindObject(KYN_HANDLE hObject)
{
    size_t nIndex = (uint32_t)hObject - (uint32_t)g_hFirstHandle;
    return nIndex < g_apObjects.size() ? g_apObjects[nIndex] : nullptr;
}

KynObject *KynFindOpened(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber)
{
    for (KynObject *pObject : g_apObjects)
        if (pObject->hParent == hParent && pObject->nType == nType && pObject->nNumber == nNumber)
            return pObject;
    return nullptr;
}

size_t KynObjectCount()
{
    return g_apObjects.size();
}

KynObject *KynObjectAt(size_t nIndex)
{
    return g_apObjects[nIndex];
}

void KynForgetObjects()
{
    for (KynObject *pObject : g_apObjects)
        delete pObject;
    g_apObjects.clear();
}

bool KynConnected()
{
    return g_bConnected;
}

void KynSetConnected(bool bConnected)
{
    g_bConnected = bConnected;
}

KYN_RESULT KynLookUpAttr(KYN_HANDLE hObject, uint32_t nId, KynAttrValue &value)
{
    const KynObject *pObject = nullptr;
    if (hObject != KYN_HANDLE_LIBRARY) {
        if (!g_bConnected)
            return KynError(KYN_ERR_NOT_CONNECTED);
        if (hObject != KYN_HANDLE_DRIVER && (pObject = KynFindObject(hObject)) == nullptr)
            return KynError(KYN_ERR_INVALID_HANDLE);
    }
    if (g_kynBackEnd.pfnAttrHidden != nullptr && g_kynBackEnd.pfnAttrHidden(hObject, pObject, nId))
        return KynError(KYN_ERR_NO_SUCH_ATTRIBUTE);
    KYN_RESULT nResult = KYN_OK;
    if (hObject == KYN_HANDLE_LIBRARY) {
        if (nId == KYN_ATTR_VERSION || nId == KYN_ATTR_FILE_NAME) {
            value.eKind = KYN_VALUE_SZ;
            value.strText = nId == KYN_ATTR_VERSION ? g_kynBackEnd.pszVersion : g_kynBackEnd.pszFileName;
        } else if (nId == KYN_ATTR_STATIC_LINKED) {
            value.eKind = KYN_VALUE_BOOL;
            value.nValue = g_kynBackEnd.bStaticLinked ? 1 : 0;
        }
    } else if (pObject != nullptr && (nId == KYN_ATTR_DEVICE_TYPE || nId == KYN_ATTR_DEVICE_NUMBER)) {
        value.eKind = KYN_VALUE_UINT32;
        value.nValue = nId == KYN_ATTR_DEVICE_TYPE ? pObject->nType : pObject->nNumber;
    } else {
        nResult = g_kynBackEnd.pfnLookUpAttr(pObject, nId, value);
    }
    if (nResult == KYN_OK && value.eKind == KYN_VALUE_NONE)
        nResult = KynError(KYN_ERR_NO_SUCH_ATTRIBUTE);
    return nResult;
}
