// printable.h - a name the program did not make itself, as the screen may show it: control bytes escaped.
#ifndef DUZE_PRINTABLE_H
#define DUZE_PRINTABLE_H

#include <string>

// ESC as "\e", every other control byte and DEL as "\xHH", a backslash as it is: a file name or
// setting can then clear no screen, set no window title and hide no text.
std::string Printable(const std::string &strText);

#endif
