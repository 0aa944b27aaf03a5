// printable.h - a name the program did not make itself, as the screen may show it: control bytes escaped.
#ifndef DUZE_PRINTABLE_H
#define DUZE_PRINTABLE_H

#include <stdint.h>

#include <string>

// ESC as "\e", every other control byte, DEL and each byte that is no well-formed UTF-8 (or a C1
// control) as "\xHH", a backslash as it is: a file name, setting or register map can then clear no
// screen, set no window title and hide no text.
std::string Printable(const std::string &strText);

#endif
