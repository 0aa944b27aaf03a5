// null_attributes.cpp - the null back end's attributes: the library's version, file name and link, and
// the driver's version; no device has any, as there is none.
#include "kyn_front.h"

// null_backend.cpp: whether the driver is connected.
bool NullConnected();

KYN_RESULT NullLookUpAttr(KYN_HANDLE hObject, uint32_t nId, KynAttrValue &value)
{
    if (hObject == KYN_HANDLE_LIBRARY && nId == KYN_ATTR_VERSION) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = "0.0.0 (no boards)";
    } else if (hObject == KYN_HANDLE_LIBRARY && nId == KYN_ATTR_FILE_NAME) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = "libkynhwnull.a";
    } else if (hObject == KYN_HANDLE_LIBRARY && nId == KYN_ATTR_STATIC_LINKED) {
        value.eKind = KYN_VALUE_BOOL;
        value.nValue = 1;
    } else if (hObject != KYN_HANDLE_LIBRARY && !NullConnected()) {
        return KynError(KYN_ERR_NOT_CONNECTED);
    } else if (hObject == KYN_HANDLE_DRIVER && nId == KYN_ATTR_VERSION) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = "none";
    } else if (hObject != KYN_HANDLE_LIBRARY && hObject != KYN_HANDLE_DRIVER) {
        return KynError(KYN_ERR_INVALID_HANDLE);
    }
    return value.eKind == KYN_VALUE_NONE ? KynError(KYN_ERR_NO_SUCH_ATTRIBUTE) : KYN_OK;
}
