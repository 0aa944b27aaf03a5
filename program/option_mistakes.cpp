// option_mistakes.cpp - what a script is told of an option it got wrong: a long option that is none,
// with the nearest one named, and options that change how operations run given with none.
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "command_line.h"
#include "printable.h"
#include "screen.h"

namespace {

// Edits that turn one name into the other (Levenshtein's distance), for the nearest option's name.
size_t Distance(const std::string &strA, const std::string &strB)
{
    std::vector<size_t> anRow(strB.size() + 1);
    for (size_t j = 0; j <= strB.size(); ++j)
        anRow[j] = j;
    for (size_t i = 1; i <= strA.size(); ++i) {
        size_t nDiagonal = anRow[0];
        anRow[0] = i;
        for (size_t j = 1; j <= strB.size(); ++j) {
            size_t nAbove = anRow[j];
            anRow[j] = std::min(std::min(anRow[j] + 1, anRow[j - 1] + 1), nDiagonal + (strA[i - 1] != strB[j - 1] ? 1 : 0));
            nDiagonal = nAbove;
        }
    }
    return anRow[strB.size()];
}

} // namespace

// Nothing but the one line is shown: a script reads it on standard error.
void UnknownLongOption(const char *pszArgument)
{
    char szLine[400];
    {
        std::string strArgument = pszArgument;
        strArgument = strArgument.substr(0, std::min(strArgument.find('='), (size_t)64));
        std::vector<std::string> aNames = LongOptionNames();
        std::string strNearest;
        size_t nBest = strArgument.size() / 3 + 1;
        for (const std::string &strName : aNames) {
            size_t nDistance = Distance(strArgument, strName);
            if (nDistance <= nBest && (strNearest.empty() || nDistance < nBest)) {
                nBest = nDistance;
                strNearest = strName;
            }
        }
        snprintf(szLine, sizeof szLine, "Error: unknown option %s%s%s; --help lists every option\n", Printable(strArgument).c_str(),
                 strNearest.empty() ? "" : " (did you mean ", strNearest.empty() ? "" : (strNearest + "?)").c_str());
    }
    fputs(szLine, stderr);
    fflush(stderr);
    EndRun(2, kKeepLibrary);
}

void RefuseOrphanOptions(const ToolOptions &options)
{
    const char *pszOrphan = options.eReport == kJsonReport ? "--json"
                            : options.bFields        ? "--fields"
                            : options.bStopOnError   ? "--stop-on-error"
                            : !options.aPatterns.empty() ? "--patterns"
                            : options.pszJunitFile != nullptr ? "--junit"
                                                              : nullptr;
    if (pszOrphan == nullptr || IsOneShot(options))
        return;
    fprintf(stderr, "Error: %s applies to operations (--read, --write, --dump, --memtest, --batch, ...) and none is given; "
                    "--help lists them\n", pszOrphan);
    fflush(stderr);
    EndRun(2, kKeepLibrary);
}

