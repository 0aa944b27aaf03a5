// kyn_results.cpp - what the front and every back end share by name: the shared result codes and
// their texts, the calls' names, and the copying of texts into callers' buffers.
#include <string.h>

#include <algorithm>
#include <map>

#include "kyn_front.h"

namespace {

const char *const g_apszOpNames[] = {
    "ConnectLib",     "ReleaseLib",       "GetAttributeType", "GetAttributeValueSz", "GetAttributeValueBool",
    "GetAttributeValueUint32", "GetDeviceHandle", "ReadReg8",  "ReadReg16",           "ReadReg32",
    "WriteReg8",      "WriteReg16",       "WriteReg32",       "DbgDump",             "ResultCode2String",
    "GetCurrentTime",
};
static_assert(sizeof g_apszOpNames / sizeof g_apszOpNames[0] == KYN_OP_COUNT, "one name for each KynOp, in its order");

// The shared codes whose texts read the same in every library; each back end words the others
// (not connected to what, which device, which window) itself.
struct SharedText {
    KynSharedCode eCode;
    const char *pszText;
};
const SharedText g_aSharedTexts[] = {
    {KYN_ERR_INVALID_PARAMETER, "Invalid parameter (null pointer or zero size)."},
    {KYN_ERR_BUFFER_TOO_SMALL, "The buffer is too small for the attribute value."},
    {KYN_ERR_NO_SUCH_ATTRIBUTE, "The object has no such attribute."},
    {KYN_ERR_ATTRIBUTE_KIND, "The attribute has another value type."},
    {KYN_ERR_INVALID_HANDLE, "Invalid device handle."},
    {KYN_ERR_MISALIGNED, "Register address is not aligned to the access width."},
};

} // namespace

KYN_RESULT KynError(KynSharedCode eCode)
{
    return KYN_FAILURE(g_kynBackEnd.nLibrary, 0, eCode);
}

const char *KynSharedResultText(KYN_RESULT nResult)
{
    for (const SharedText &entry : g_aSharedTexts)
        if (KynError(entry.eCode) == nResult)
            return entry.pszText;
    return nullptr;
}

namespace {

// The text of each code's last failure that gave one.
std::map<KYN_RESULT, std::string> g_mapRemembered;

} // namespace

KYN_RESULT KynFailWithText(KYN_RESULT nResult, const std::string &strText)
{
    g_mapRemembered[nResult] = strText;
    return nResult;
}

const char *KynRememberedText(KYN_RESULT nResult)
{
    auto it = g_mapRemembered.find(nResult);
    return it != g_mapRemembered.end() ? it->second.c_str() : nullptr;
}

const char *KynOpName(KynOp eOp)
{
    return eOp < KYN_OP_COUNT ? g_apszOpNames[eOp] : "?";
}

KynOp KynFindOp(const std::string &strName)
{
    std::string strShort = strName.compare(0, 6, "KynDrv") == 0 ? strName.substr(6) : strName;
    for (int i = 0; i < KYN_OP_COUNT; ++i)
        if (strShort == g_apszOpNames[i])
            return (KynOp)i;
    return KYN_OP_COUNT;
}

KYN_RESULT KynCopyText(const std::string &strText, char *pszBuffer, uint32_t nBufferSize)
{
    if (pszBuffer == nullptr || nBufferSize == 0)
        return KynError(KYN_ERR_INVALID_PARAMETER);
    size_t nCopy = std::min<size_t>(strText.size(), nBufferSize - 1);
    memcpy(pszBuffer, strText.data(), nCopy);
    pszBuffer[nCopy] = '\0';
    return nCopy < strText.size() ? KynError(KYN_ERR_BUFFER_TOO_SMALL) : KYN_OK;
}
