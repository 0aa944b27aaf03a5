// printable.cpp - control bytes of names from outside the program, escaped before they are shown.
#include "printable.h"

#include <stdio.h>

std::string Printable(const std::string &strText)
{
    std::string strOut;
    strOut.reserve(strText.size());
    for (unsigned char c : strText) {
        if (c == 0x1B) {
            strOut += "\\e";
        } else if (c < 0x20 || c == 0x7F) {
            char szHex[8];
            snprintf(szHex, sizeof szHex, "\\x%02X", c);
            strOut += szHex;
        } else {
            strOut += (char)c;
        }
    }
    return strOut;
}
