// sim_results.cpp - the simulated library's result texts: its own codes', and KYNSIM_NO_TEXT's silence.
#include <algorithm>

#include "sim_internal.h"

namespace {

// The codes whose texts are this library's own: its codes, and the shared ones it words itself.
struct ResultEntry {
    KYN_RESULT nResult;
    const char *pszText;
};
const ResultEntry g_aResultTexts[] = {
    {KynError(KYN_ERR_NOT_CONNECTED), "The library is not connected to the KYN driver."},
    {KynError(KYN_ERR_NO_SUCH_DEVICE), "No such device present."},
    {SIM_ERR_OUT_OF_MEMORY, "The driver is out of memory."},
    {KynError(KYN_ERR_OUTSIDE), "Register address is outside the device window."},
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
    return KynSharedResultText(nResult);
}
