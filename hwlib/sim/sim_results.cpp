// sim_results.cpp - the simulated library's result codes' texts, and the copying of texts into callers' buffers.
#include <string.h>

#include <algorithm>

#include "sim_internal.h"

namespace {

struct ResultEntry {
    KYN_RESULT nResult;
    const char *pszText;
};
const ResultEntry g_aResultTexts[] = {
    {SIM_ERR_INVALID_PARAMETER, "Invalid parameter (null pointer or zero size)."},
    {SIM_ERR_NOT_CONNECTED, "The library is not connected to the KYN driver."},
    {SIM_ERR_BUFFER_TOO_SMALL, "The buffer is too small for the attribute value."},
    {SIM_ERR_NO_SUCH_ATTRIBUTE, "The object has no such attribute."},
    {SIM_ERR_ATTRIBUTE_KIND, "The attribute has another value type."},
    {SIM_ERR_INVALID_HANDLE, "Invalid device handle."},
    {SIM_ERR_NO_SUCH_DEVICE, "No such device present."},
    {SIM_ERR_OUT_OF_MEMORY, "The driver is out of memory."},
    {SIM_ERR_MISALIGNED, "Register address is not aligned to the access width."},
    {SIM_ERR_OUT_OF_WINDOW, "Register address is outside the device window."},
    {SIM_ERR_ACCESS_WIDTH, "The device does not support this access width."},
    {SIM_ERR_UNKNOWN_DEBUG_COMMAND, "Unknown debug command."},
};

} // namespace

const char *SimResultText(KYN_RESULT nResult)
{
    const SimSettings &settings = SimGetSettings();
    if (settings.bNoTextForAll ||
        std::find(settings.anNoText.begin(), settings.anNoText.end(), nResult) != settings.anNoText.end())
        return nullptr;
    for (const ResultEntry &entry : g_aResultTexts)
        if (entry.nResult == nResult)
            return entry.pszText;
    return nullptr;
}

KYN_RESULT SimCopyText(const std::string &strText, char *pszBuffer, uint32_t nBufferSize)
{
    if (pszBuffer == nullptr || nBufferSize == 0)
        return SIM_ERR_INVALID_PARAMETER;
    size_t nCopy = std::min<size_t>(strText.size(), nBufferSize - 1);
    memcpy(pszBuffer, strText.data(), nCopy);
    pszBuffer[nCopy] = '\0';
    return nCopy < strText.size() ? SIM_ERR_BUFFER_TOO_SMALL : SIM_OK;
}

