// pci_kernel.cpp - what the running kernel allows the PCI library: its lockdown, this process's
// capabilities as the kernel checks them, and the guard that turns the SIGBUS of a BAR that went
// away into a failed access.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

#include "kyn_pci.h"
#include "pci_internal.h"

namespace {

// Mapped BARs, read by the SIGBUS handler: a place is filled before the count that publishes it.
struct GuardedMapping {
    uintptr_t nStart;
    size_t nLength;
    volatile sig_atomic_t bGone;
};
GuardedMapping g_aGuarded[kPciMaxGuarded];
volatile sig_atomic_t g_nGuarded = 0;
// The action in place before the guard: every SIGBUS that is not a guarded access goes to it.
struct sigaction g_previousBus;
bool g_bBusCaught = false;

void OnBusError(int nSignal, siginfo_t *pInfo, void *pContext)
{
    uintptr_t nAddress = (uintptr_t)pInfo->si_addr;
    for (int i = 0; pInfo->si_code > 0 && i < g_nGuarded; ++i) {
        GuardedMapping &mapping = g_aGuarded[i];
        if (mapping.nLength == 0 || nAddress - mapping.nStart >= mapping.nLength)
            continue;
        // Plain memory in the BAR's place: the access that faulted completes there, and the
        // library reports it failed. No further access reaches the mapping.
        int nErrno = errno;
        void *pPlain = mmap((void *)mapping.nStart, mapping.nLength, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        errno = nErrno;
        if (pPlain == MAP_FAILED)
            break;
        mapping.bGone = 1;
        KynCloseFastWindow();
        g_nKynFastResult = PCI_ERR_GONE;
        return;
    }
    if ((g_previousBus.sa_flags & SA_SIGINFO) != 0) {
        g_previousBus.sa_sigaction(nSignal, pInfo, pContext);
    } else if (g_previousBus.sa_handler != SIG_DFL && g_previousBus.sa_handler != SIG_IGN) {
        g_previousBus.sa_handler(nSignal);
    } else {
        // The fault comes again on return and takes its default course.
        signal(SIGBUS, SIG_DFL);
    }
}

} // namespace

int PciGuardMapping(void *pStart, size_t nLength, const std::string &strGoneText)
{
    if (!g_bBusCaught) {
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigfillset(&action.sa_mask);
        g_bBusCaught = sigaction(SIGBUS, &action, &g_previousBus) == 0;
    }
    // Its text is ready before any access may need it: the handler cannot make it.
    PciFail(PCI_ERR_GONE, "%s", strGoneText.c_str());
    int nGuard = -1;
    for (int i = 0; i < g_nGuarded && nGuard < 0; ++i)
        if (g_aGuarded[i].nLength == 0)
            nGuard = i;
    if (nGuard < 0 && g_nGuarded < kPciMaxGuarded)
        nGuard = g_nGuarded;
    if (nGuard < 0)
        return -1;
    g_aGuarded[nGuard].nStart = (uintptr_t)pStart;
    g_aGuarded[nGuard].bGone = 0;
    g_aGuarded[nGuard].nLength = nLength;
    if (nGuard == g_nGuarded)
        g_nGuarded = nGuard + 1;
    return nGuard;
}

bool PciMappingGone(int nGuard)
{
    return nGuard >= 0 && g_aGuarded[nGuard].bGone != 0;
}

void PciUnguardMapping(int nGuard)
{
    if (nGuard >= 0)
        g_aGuarded[nGuard].nLength = 0;
}

std::string PciLockdown()
{
    FILE *pFile = fopen("/sys/kernel/security/lockdown", "re");
    char szLine[128] = "";
    if (pFile != nullptr) {
        if (fgets(szLine, sizeof szLine, pFile) == nullptr)
            szLine[0] = '\0';
        fclose(pFile);
    }
    const char *pszOpen = strchr(szLine, '[');
    const char *pszClose = pszOpen != nullptr ? strchr(pszOpen, ']') : nullptr;
    std::string strMode = pszClose != nullptr ? std::string(pszOpen + 1, pszClose) : "";
    return strMode == "none" ? "" : strMode;
}

bool PciHasCapability(int nCapability)
{
    // A capability inside a user namespace of its own counts for nothing against sysfs: the
    // kernel asks for it in the first namespace, whose identity map is the whole range.
    FILE *pMap = fopen("/proc/self/uid_map", "re");
    if (pMap != nullptr) {
        unsigned long nInside = 1, nOutside = 1, nCount = 0;
        int nFields = fscanf(pMap, "%lu %lu %lu", &nInside, &nOutside, &nCount);
        fclose(pMap);
        if (nFields == 3 && (nInside != 0 || nOutside != 0 || nCount != 4294967295ul))
            return false;
    }
    FILE *pStatus = fopen("/proc/self/status", "re");
    if (pStatus == nullptr)
        return false;
    char szLine[256];
    unsigned long long nEffective = 0;
    bool bFound = false;
    while (!bFound && fgets(szLine, sizeof szLine, pStatus) != nullptr)
        bFound = sscanf(szLine, "CapEff: %llx", &nEffective) == 1;
    fclose(pStatus);
    return bFound && ((nEffective >> nCapability) & 1) != 0;
}

int KynPciGuardMapping(void *pStart, size_t nLength)
{
    return PciGuardMapping(pStart, nLength, "The BAR stopped answering while it was saved.");
}

bool KynPciMappingGone(int nGuard)
{
    return PciMappingGone(nGuard);
}

void KynPciUnguardMapping(int nGuard)
{
    PciUnguardMapping(nGuard);
}
