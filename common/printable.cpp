// printable.cpp - what of a name from outside the program could act on a terminal, escaped before it is
// shown: control bytes but the tab, broken UTF-8, C1 controls, the bidirectional controls.
#include "printable.h"

#include <stdio.h>

namespace {

// The length of a well-formed UTF-8 character at p (at most nLeft bytes), or 0: no overlong form, no
// surrogate, nothing past U+10FFFF, and no C1 control (U+0080 to U+009F), which 8-bit terminals take
// for escape sequences.
size_t Utf8Length(const unsigned char *p, size_t nLeft)
{
    size_t nLength = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC0 ? 2 : 0;
    if (nLength == 0 || nLength > nLeft || p[0] > 0xF4)
        return 0;
    uint32_t nCode = p[0] & (0x7F >> nLength);
    for (size_t i = 1; i < nLength; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        nCode = (nCode << 6) | (p[i] & 0x3F);
    }
    static const uint32_t s_anLowest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (nCode < s_anLowest[nLength] || nCode > 0x10FFFF || (nCode >= 0xD800 && nCode <= 0xDFFF) || nCode <= 0x9F)
        return 0;
    return nLength;
}

// Whether a character turns the text's direction around (the bidirectional controls: LRM, RLM,
// ALM, LRE to RLO, LRI to PDI): shown as it is, it makes a terminal show text other than it is.
bool IsBidiControl(const unsigned char *p, size_t nLength)
{
    if (nLength == 2)
        return p[0] == 0xD8 && p[1] == 0x9C; // U+061C
    if (nLength != 3 || p[0] != 0xE2)
        return false;
    uint32_t nCode = ((uint32_t)(p[0] & 0x0F) << 12) | ((uint32_t)(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    return nCode == 0x200E || nCode == 0x200F || (nCode >= 0x202A && nCode <= 0x202E) || (nCode >= 0x2066 && nCode <= 0x2069);
}

} // namespace

std::string Printable(const std::string &strText)
{
    // Most names are plain ASCII: they come back as they are, with no byte looked at twice.
    bool bPlain = true;
    for (unsigned char c : strText)
        bPlain = bPlain && c >= 0x20 && c < 0x7F;
    if (bPlain)
        return strText;
#ifdef _WIN32
    // A Windows console shows the program's code page, where every byte from 0x80 is a character.
    const bool bUtf8 = false;
#else
    const bool bUtf8 = true;
#endif
    std::string strOut;
    strOut.reserve(strText.size());
    const unsigned char *p = (const unsigned char *)strText.data();
    for (size_t i = 0; i < strText.size();) {
        unsigned char c = p[i];
        size_t nLength = c >= 0x80 && bUtf8 ? Utf8Length(p + i, strText.size() - i) : 1;
        if (c == 0x1B) {
            strOut += "\\e";
        } else if (c == '\t') {
            // A tab does nothing to a terminal: a name keeps it.
            strOut += c;
        } else if (nLength > 1 && IsBidiControl(p + i, nLength)) {
            char szCode[12];
            snprintf(szCode, sizeof szCode, "\\u%04X",
                     nLength == 2 ? 0x061Cu : (unsigned)(((p[i] & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F)));
            strOut += szCode;
        } else if (c < 0x20 || c == 0x7F || nLength == 0) {
            char szHex[8];
            snprintf(szHex, sizeof szHex, "\\x%02X", c);
            strOut += szHex;
        } else {
            strOut.append((const char *)p + i, nLength);
        }
        i += nLength == 0 ? 1 : nLength;
    }
    return strOut;
}
