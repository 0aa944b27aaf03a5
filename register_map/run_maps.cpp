// run_maps.cpp - the run's register maps, the board's and the bridge's, read once at start from the
// files the settings name.
#include "register_map.h"

#include <stdlib.h>

#include <memory>

namespace {

// Null where no map was named; kept for the run.
std::unique_ptr<RegisterMap> g_pBoardMap, g_pBridgeMap;

} // namespace

bool LoadRunMap(bool bBridge, const std::string &strName, const std::string &strBase, std::string &strError)
{
    std::string strText;
    std::string strFile = ShippedMapFile(strName);
    if (!ReadMapFile(strFile, strText, strError)) {
        strError = strFile + ": " + strError;
        return false;
    }
    std::unique_ptr<RegisterMap> pMap(new RegisterMap());
    if (!ReadRegisterMap(strFile, strText, strBase, *pMap, strError))
        return false;
    (bBridge ? g_pBridgeMap : g_pBoardMap) = std::move(pMap);
    return true;
}

const RegisterMap *RunMap(bool bBridge)
{
    return bBridge ? g_pBridgeMap.get() : g_pBoardMap.get();
}
