// fuzz_batch.cpp - fuzzes a batch's lines as the batch reads them: each parsed by the operation table
// and resolved without a map, either an operation whose values keep their limits or a refusal with a
// reason, never a crash.
#include <stdint.h>

#include <string>

#include "command_table.h"
#include "duze_limits.h"
#include "operations.h"

namespace {

void OneLine(const std::string &strLine)
{
    size_t nSpace = strLine.find_first_of(" \t");
    std::string strVerb = strLine.substr(0, nSpace);
    size_t nArgument = nSpace == std::string::npos ? std::string::npos : strLine.find_first_not_of(" \t", nSpace);
    std::string strArgument = nArgument == std::string::npos ? "" : strLine.substr(nArgument);
    const OperationRow *pRow = FindOperation(strVerb.c_str(), strVerb.size());
    if (pRow == nullptr)
        return;
    Operation op;
    std::string strWhy;
    if (!ParseOperation(*pRow, strArgument.c_str(), op, strWhy)) {
        if (strWhy.empty())
            __builtin_trap();
        return;
    }
    op.nLine = 1;
    bool bRange = op.eKind == kOpMemtest || op.eKind == kOpHexdump;
    if ((bRange && (op.nStart % 4 != 0 || op.nLength % 4 != 0 || op.nLength == 0 || (uint64_t)op.nStart + op.nLength > 1ull << 32)) ||
        (op.eKind == kOpSleep && op.nNumber > kSleepMaxMs))
        __builtin_trap();
    if (op.eKind == kOpAccess && FindCommand(op.cKey)->nWidth < 32 && (op.nValue >> FindCommand(op.cKey)->nWidth) != 0)
        __builtin_trap();
    if (!ResolveOperation(op, strWhy) && strWhy.empty())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    std::string strText((const char *)pData, nSize);
    for (size_t nStart = 0; nStart < strText.size();) {
        size_t nEnd = strText.find('\n', nStart);
        OneLine(strText.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart));
        nStart = nEnd == std::string::npos ? strText.size() : nEnd + 1;
    }
    return 0;
}
