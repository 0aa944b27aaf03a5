// number_entry.h - number entry: a prompt with the remembered value, a line, and the standard library's
// base-0 rules giving 32-bit results on every host.
#ifndef DUZE_NUMBER_ENTRY_H
#define DUZE_NUMBER_ENTRY_H

#include <stdint.h>

// As strtoul in base 0 where unsigned long is 32 bits: '-' negates modulo 2^32,
// values beyond 32 bits give 0xFFFFFFFF, no digits give 0.
uint32_t ConvertUnsigned32(const char *pszText);

// As strtol in base 0 where long is 32 bits: saturates at 0x7FFFFFFF and 0x80000000.
int32_t ConvertSigned32(const char *pszText);

// A number given on a script's command line: the whole text one number ("0x" hexadecimal, a
// leading "0" octal, else decimal; no sign, blank or anything after it) of at most nMax.
bool ParseStrictNumber(const char *pszText, uint32_t nMax, uint32_t *pnValue);

struct RegisterMap;
// An address prompt: as PromptValue, and with a map a line that starts with a letter is a register's
// name, taken as its address. False, having said so, for a name the map lacks: the command does not run.
struct MapRegister;

bool PromptAddress(const char *pszPrompt, uint32_t *pnRemembered, const RegisterMap *pMap,
                   const MapRegister **ppNamed = nullptr);

// Prints the prompt with the remembered value, reads a line, and remembers a non-empty one:
// unsigned, or signed as the debug command takes it.
void PromptValue(const char *pszPrompt, uint32_t *pnRemembered);
void PromptSignedValue(const char *pszPrompt, int32_t *pnRemembered);

#endif
