// svd_nodes.h - what the SVD reader asks of the file's elements: text, children, numbers, the line of a
// refusal, warnings once each, and the limits of what a map expands to.
#ifndef DUZE_SVD_NODES_H
#define DUZE_SVD_NODES_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "rapidxml.hpp"
#include "register_map.h"

typedef rapidxml::xml_node<char> Node;

// A refusal, with where it is: thrown from deep in the walk, caught once.
struct MapError {
    const char *pWhere;
    std::string strWhat;
};

// The text being read and the parser's copy of it (whose offsets give an element's line), and where
// its warnings go; until its end.
void BeginSvdReading(const char *pOriginal, const char *pParsed, std::vector<std::string> *paWarnings);
void EndSvdReading();
// The line of the text a place of the parser's copy is on, or 0.
int LineOf(const char *pWhere);
[[noreturn]] void Refuse(const Node *pNode, const std::string &strWhat);
// What a map does that its format's other readers take with a warning: once for each kind, with the
// line of its first.
void Warn(const Node *pNode, const std::string &strKind, const std::string &strWhat);
// A + B, or false where the sum passes 64 bits.
bool AddAddress(uint64_t nA, uint64_t nB, uint64_t &nSum);
// More registers and cluster instances, or fields and enumerated values, within the map's limits;
// the reading lets an interrupt act now and then.
void CountRegisters(const Node *pNode, size_t nMore);
void CountFields(const Node *pNode, size_t nMore);
// Elements nested deeper than a real map's are refused before the parser, which recurses once a
// level, goes down into them.
void CheckNesting(const char *p, const char *pEnd);
std::string Text(const Node *pNode);
const Node *Child(const Node *pNode, const char *pszName);
std::string ChildText(const Node *pNode, const char *pszName);
std::string Attribute(const Node *pNode, const char *pszName);
// scaledNonNegativeInteger: decimal, 0x hexadecimal or # binary, an optional k, M, G or T after it.
bool ParseNumber(const std::string &strText, uint64_t &nValue);
uint64_t Number(const Node *pNode);
MapAccess ParseAccess(const Node *pNode);
// An enumerated value: a number, or binary digits with don't-care bits (#1x0, 0b1x0); its cared-for
// bits in nCare. False where it is neither.
bool ParseEnumValue(const std::string &strText, uint64_t &nValue, uint64_t &nCare);

// The names a dim element stands for: NAME[%s] an array, %s anywhere a list (its dimIndex, or 0 up),
// each with its offset from the first in anOffsets.
std::vector<std::string> Expand(const Node *pNode, const std::string &strName, std::vector<uint64_t> &anOffsets);

#endif
