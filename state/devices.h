// devices.h - the two device handles the run opens: the board, and its PCI bridge where it has one.
#ifndef DUZE_DEVICES_H
#define DUZE_DEVICES_H

#include "KynHwDll.h"

// Every board command uses it, whether or not the open succeeded.
extern KYN_HANDLE g_hBoard;
// 0 when the board has no bridge, which the bridge commands test.
extern KYN_HANDLE g_hPlx;

#endif
