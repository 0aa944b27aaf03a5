// pci_libpci.cpp - libpci as the PCI library uses it: its access to a tree, its fatal errors turned into
// failed calls, its warnings kept for the text of the failure they go with.
#include <errno.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stdio.h>

#include "pci_internal.h"

std::string g_strLibpciMessage;
int g_nLibpciErrno = 0;

namespace {

// libpci's fatal errors' way back to the guarded call that met them.
jmp_buf *g_pRecover = nullptr;

std::string Format(const char *pszFormat, va_list args)
{
    char szText[512];
    vsnprintf(szText, sizeof szText, pszFormat, args);
    return szText;
}

[[noreturn]] void OnLibpciError(char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    g_strLibpciMessage = Format(pszFormat, args);
    va_end(args);
    if (g_pRecover != nullptr)
        longjmp(*g_pRecover, 1);
    OsaFatal("kynpci: libpci: " + g_strLibpciMessage);
}

// Kept for the text of the failure it goes with; libpci never writes to the console.
void OnLibpciWarning(char *pszFormat, ...)
{
    g_nLibpciErrno = errno;
    va_list args;
    va_start(args, pszFormat);
    g_strLibpciMessage = Format(pszFormat, args);
    va_end(args);
}

void OnLibpciDebug(char *, ...)
{
}

} // namespace

bool PciGuarded(void (*pfnStep)(void *), void *pArg)
{
    jmp_buf recover;
    jmp_buf *pOuter = g_pRecover;
    if (setjmp(recover) != 0) {
        g_pRecover = pOuter;
        return false;
    }
    g_pRecover = &recover;
    pfnStep(pArg);
    g_pRecover = pOuter;
    return true;
}

namespace {

struct FillStep {
    pci_dev *pDevice;
    int nFlags;
};

void FillInfoStep(void *pArg)
{
    FillStep *pStep = (FillStep *)pArg;
    pci_fill_info(pStep->pDevice, pStep->nFlags);
}

} // namespace

bool PciFillInfo(pci_dev *pDevice, int nFlags)
{
    FillStep step = {pDevice, nFlags};
    return PciGuarded(FillInfoStep, &step);
}

pci_access *PciNewAccess(const std::string &strTree)
{
    pci_access *pAccess = pci_alloc();
    pAccess->method = PCI_ACCESS_SYS_BUS_PCI;
    pAccess->error = OnLibpciError;
    pAccess->warning = OnLibpciWarning;
    pAccess->debug = OnLibpciDebug;
    pci_set_param(pAccess, (char *)"sysfs.path", (char *)strTree.c_str());
    pci_init(pAccess);
    return pAccess;
}
