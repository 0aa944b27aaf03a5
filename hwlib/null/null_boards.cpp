// null_boards.cpp - the null back end's boards: number 0 of every type opens, with a serial number, a build
// number and a CPLD text, and neither a bridge nor a register. The front keeps them and answers their type and number.
#include "kyn_front.h"

KYN_RESULT NullOpenDevice(KYN_HANDLE hParent, uint32_t nType, uint32_t nNumber, KYN_HANDLE *phDevice)
{
    if (hParent != KYN_HANDLE_DRIVER || nNumber != 0)
        return KynError(KYN_ERR_NO_SUCH_DEVICE);
    if (const KynObject *pKnown = KynFindOpened(hParent, nType, nNumber)) {
        *phDevice = pKnown->hHandle;
        return KYN_OK;
    }
    KynObject *pBoard = new KynObject();
    pBoard->nType = nType;
    *phDevice = KynAddObject(pBoard);
    return KYN_OK;
}

KYN_RESULT NullLookUpAttr(const KynObject *pDevice, uint32_t nId, KynAttrValue &value)
{
    if (pDevice == nullptr && nId == KYN_ATTR_VERSION) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = "none";
    } else if (pDevice != nullptr && nId == KYN_ATTR_SERIAL_NUMBER) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = "NULL-" + std::to_string(pDevice->nType);
    } else if (pDevice != nullptr && (nId == KYN_ATTR_BUILD_NUMBER || nId == KYN_ATTR_CPLD_BUILD)) {
        value.eKind = KYN_VALUE_SZ;
        value.strText = nId == KYN_ATTR_BUILD_NUMBER ? "0" : "  none\n";
    }
    return KYN_OK;
}

KYN_RESULT NullRead(KynObject &, uint32_t, uint32_t, uint32_t *)
{
    return KynError(KYN_ERR_OUTSIDE);
}

KYN_RESULT NullWrite(KynObject &, uint32_t, uint32_t, uint32_t)
{
    return KynError(KYN_ERR_OUTSIDE);
}
