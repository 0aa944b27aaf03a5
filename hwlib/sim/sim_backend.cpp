// sim_backend.cpp - the simulated library's back end: its table of operations for the front, the
// failures KYNSIM_FAIL injects into any call, connecting and the clock.
#include "sim_internal.h"

namespace {

// Calls of each operation so far, for the KYNSIM_FAIL rules that fail the Nth call.
uint32_t g_anCalls[KYN_OP_COUNT];

std::string StartConsole()
{
    const SimSettings &settings = SimGetSettings();
    OsaInjectKeys(settings.anKeys);
    OsaSetConsoleRules(settings.consoleRules);
    return settings.strTracePath;
}

// Counts the call and returns the injected failure for it, or KYN_OK.
KYN_RESULT Injected(KynOp eOp, uint32_t nArgument)
{
    const SimSettings &settings = SimGetSettings();
    if (!settings.abOpHasRule[eOp])
        return KYN_OK;
    uint32_t nCall = ++g_anCalls[eOp];
    for (const SimFailRule &rule : settings.aFailRules) {
        if (rule.eOp != eOp)
            continue;
        if (rule.eWhen == SIM_FAIL_ALWAYS || (rule.eWhen == SIM_FAIL_AT && rule.nMatch == nArgument) ||
            (rule.eWhen == SIM_FAIL_ON_CALL && rule.nMatch == nCall))
            return rule.nResult;
    }
    return KYN_OK;
}

KYN_RESULT Connect(bool &bConnected)
{
    KYN_RESULT nResult = SimGetSettings().nConnectResult;
    // Codes 11 and 17 report a missing or mismatched driver without the failure bit.
    uint32_t nCode = (uint32_t)nResult & 0xFF;
    bConnected = nResult >= 0 && nCode != 11 && nCode != 17;
    return nResult;
}

KYN_RESULT Release()
{
    return KYN_OK;
}

KYN_HANDLE FirstHandle()
{
    return SimGetSettings().hFirstDevice;
}

uint64_t Time()
{
    const SimSettings &settings = SimGetSettings();
    return settings.bFixedTime ? settings.nFixedTime : OsaTime100ns();
}

constexpr KynBackEnd Table()
{
    KynBackEnd table = {};
    table.nLibrary = KYN_LIBRARY_SIM;
    table.pszTraceName = "kynsim";
    table.pszTraceSetting = "KYNSIM_TRACE";
    table.pszVersion = "4.12.0 (simulated)";
    table.pszFileName = KYNSIM_FILE_NAME; // as the build named it
    table.bStaticLinked = KYNSIM_STATIC != 0;
    table.pfnFirstHandle = FirstHandle;
    table.pfnStartConsole = StartConsole;
    table.pfnEnter = Injected;
    table.pfnConnect = Connect;
    table.pfnRelease = Release;
    table.pfnAttrHidden = SimAttrHidden;
    table.pfnLookUpAttr = SimLookUpAttr;
    table.pfnOpenDevice = SimOpenDevice;
    table.pfnRead = SimReadRegister;
    table.pfnWrite = SimWriteRegister;
    table.pfnDebug = SimDebugAction;
    table.pfnResultText = SimResultText;
    table.pfnTime = Time;
    return table;
}

} // namespace

// Filled by field name; a field a back end leaves out is null.
extern constexpr KynBackEnd g_kynBackEnd = Table();
