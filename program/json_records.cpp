// json_records.cpp - the machine contract's records written with nlohmann's JSON library: every name a
// map gives, every text a library gives, escaped as JSON requires.
#include "json_records.h"

#include <stdio.h>
#include <stdlib.h>

#include <charconv>

#include <nlohmann/json.hpp>

#include "error_report.h"
#include "register_map.h"

namespace {

// Bytes that are no UTF-8 (a Windows code page's text) become U+FFFD rather than end the run.
std::string Dump(const nlohmann::json &record)
{
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The code as an error line shows it: 0X22 [1.3].
std::string ReportedText(KYN_RESULT nResult)
{
    char szCode[48];
    snprintf(szCode, sizeof szCode, "%#lX [%d.%d]", (unsigned long)ReportedCode(nResult), (int)UpperField(nResult),
             (int)MiddleField(nResult));
    return szCode;
}

// The device's identity, made once: board type and number (also as JSON members, for the access
// record written by hand), each device's slot.
std::string g_strBoardIdentity;
int32_t g_nBoardType = 0;
uint32_t g_nBoardNumber = 0;
std::string g_strBoardSlot, g_strBridgeSlot;

// A number in decimal after the text, as the library prints it.
template <typename Number> void AppendNumber(std::string &strJson, const char *pszBefore, Number nValue)
{
    char szDigits[24];
    strJson += pszBefore;
    strJson.append(szDigits, std::to_chars(szDigits, szDigits + sizeof szDigits, nValue).ptr);
}

// A value wider than 32 bits as a hex string too: a reader that takes numbers as doubles loses the
// bits past 2^53.
std::string HexString(uint64_t nValue, uint32_t nBits)
{
    char szHex[24];
    snprintf(szHex, sizeof szHex, "0x%.*llX", (int)((nBits + 3) / 4), (unsigned long long)nValue);
    return szHex;
}

// A value's fields: name, bit offset, width, value and enumerated value's name, each an object.
nlohmann::json FieldsJson(const MapRegister &reg, uint64_t nValue)
{
    nlohmann::json fields = nlohmann::json::array();
    for (const FieldValue &value : MapFieldValues(reg, nValue)) {
        nlohmann::json field = {{"name", value.pField->strName}, {"lsb", value.pField->nLsb}, {"width", value.pField->nWidth},
                                {"value", value.nValue}};
        if (!value.strEnum.empty())
            field["enum"] = value.strEnum;
        fields.push_back(field);
    }
    return fields;
}

// The device a record is of.
void SetDevice(nlohmann::json &json, bool bBridge)
{
    json["device"] = bBridge ? "bridge" : "board";
    if (g_strBoardIdentity.empty())
        return;
    json["board_type"] = g_nBoardType;
    json["board_number"] = g_nBoardNumber;
    const std::string &strSlot = bBridge ? g_strBridgeSlot : g_strBoardSlot;
    if (!strSlot.empty())
        json["slot"] = strSlot;
}

} // namespace

void SetRecordDevice(int32_t nBoardType, uint32_t nBoardNumber, const std::string &strBoardSlot,
                     const std::string &strBridgeSlot)
{
    g_strBoardIdentity = Dump({{"board_type", nBoardType}, {"board_number", nBoardNumber}});
    g_nBoardType = nBoardType;
    g_nBoardNumber = nBoardNumber;
    g_strBoardSlot = strBoardSlot;
    g_strBridgeSlot = strBridgeSlot;
}

std::string AccessJson(const AccessRecord &record)
{
    // The commonest record, written directly in the library's own form (members in name order,
    // numbers as it prints them); its strings still go through the library, which escapes them. A
    // batch of reads then costs little more in JSON than in text.
    std::string strJson;
    strJson.reserve(160);
    AppendNumber(strJson, "{\"address\":", record.nAddress);
    if (!g_strBoardIdentity.empty()) {
        // {"board_number":N,"board_type":T}, its braces left out.
        strJson += ',';
        strJson.append(g_strBoardIdentity, 1, g_strBoardIdentity.size() - 2);
    }
    if (record.nResult < 0)
        strJson += ",\"code\":" + Dump(ReportedText(record.nResult));
    strJson += record.bBridge ? ",\"device\":\"bridge\"" : ",\"device\":\"board\"";
    if (record.nResult < 0)
        strJson += ",\"error\":" + Dump(record.strError);
    if (record.pRegister != nullptr && record.nResult >= 0)
        strJson += ",\"fields\":" + Dump(FieldsJson(*record.pRegister, record.nValue));
    if (record.nLine > 0)
        AppendNumber(strJson, ",\"line\":", record.nLine);
    if (!record.strName.empty())
        strJson += ",\"name\":" + Dump(record.strName);
    // The operation is one of the tool's own words ("read", "write"): nothing to escape.
    strJson += record.bWrite ? ",\"op\":\"write\"" : ",\"op\":\"read\"";
    AppendNumber(strJson, ",\"result\":", (long long)record.nResult);
    const std::string &strSlot = record.bBridge ? g_strBridgeSlot : g_strBoardSlot;
    if (!strSlot.empty())
        strJson += ",\"slot\":" + Dump(strSlot);
    if (record.nResult >= 0)
        AppendNumber(strJson, ",\"value\":", (unsigned long long)record.nValue);
    if (record.nResult >= 0 && record.nWidth > 32)
        strJson += ",\"value_hex\":\"" + HexString(record.nValue, (uint32_t)record.nWidth) + "\"";
    AppendNumber(strJson, ",\"version\":", kRecordsVersion);
    AppendNumber(strJson, ",\"width\":", record.nWidth);
    strJson += '}';
    return strJson;
}

std::string LineErrorJson(int nLine, const std::string &strError)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    json["line"] = nLine;
    json["error"] = strError;
    return Dump(json);
}

namespace {

// A batch's line number; an option's record has none.
void SetLine(nlohmann::json &json, int nLine)
{
    if (nLine > 0)
        json["line"] = nLine;
}

nlohmann::json BitList(uint32_t nBits)
{
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < 32; ++i)
        if ((nBits >> i) & 1)
            list.push_back(i);
    return list;
}

} // namespace

std::string MismatchJson(const char *pszPattern, uint32_t nPass, uint32_t nAddress, uint32_t nExpected, uint32_t nRead,
                         int nLine)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    SetLine(json, nLine);
    json["op"] = "mismatch";
    json["pattern"] = pszPattern;
    json["pass"] = nPass;
    json["address"] = nAddress;
    json["expected"] = nExpected;
    json["read"] = nRead;
    json["xor"] = nRead ^ nExpected;
    json["bits"] = BitList(nRead ^ nExpected);
    return Dump(json);
}

std::string MemtestJson(uint32_t nStart, uint32_t nLength, const std::vector<std::string> &aPatterns, uint32_t nPasses,
                        uint64_t nMismatches, uint32_t nStuckHigh, uint32_t nStuckLow, uint32_t nAliasBits, int nLine)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    SetLine(json, nLine);
    json["op"] = "memtest";
    json["start"] = nStart;
    json["length"] = nLength;
    json["patterns"] = aPatterns;
    json["passes"] = nPasses;
    json["mismatches"] = nMismatches;
    json["stuck_high"] = BitList(nStuckHigh);
    json["stuck_low"] = BitList(nStuckLow);
    json["aliased_address_bits"] = BitList(nAliasBits);
    return Dump(json);
}

std::string DumpJson(const DumpRecord &record)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    SetLine(json, record.nLine);
    json["op"] = "dump";
    SetDevice(json, record.bBridge);
    json["name"] = record.strName;
    json["svd_address"] = record.nSvdAddress;
    if (record.bOnBoard)
        json["address"] = record.nAddress;
    json["width"] = record.nBits;
    if (record.nResult < 0) {
        json["result"] = record.nResult;
        json["code"] = ReportedText(record.nResult);
        json["error"] = record.strError;
    } else if (record.bRead) {
        json["value"] = record.nValue;
        if (record.nBits > 32)
            json["value_hex"] = HexString(record.nValue, record.nBits);
        json["fields"] = record.pRegister != nullptr ? FieldsJson(*record.pRegister, record.nValue) : nlohmann::json::array();
    } else {
        json["skipped"] = record.strSkipped;
    }
    if (record.bReset)
        json["reset"] = record.nReset;
    if (record.bReset && record.nBits > 32)
        json["reset_hex"] = HexString(record.nReset, record.nBits);
    return Dump(json);
}

std::string SleepJson(int nLine, uint32_t nMilliseconds)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    json["line"] = nLine;
    json["op"] = "sleep";
    json["milliseconds"] = nMilliseconds;
    return Dump(json);
}

std::string DecodeJson(uint32_t nCode, const std::string &strReported, bool bFailure, const std::string &strText, int nLine)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    SetLine(json, nLine);
    json["op"] = "decode";
    json["result"] = (int32_t)nCode;
    json["failure"] = bFailure;
    if (bFailure) {
        json["code"] = strReported;
        json["text"] = strText;
    }
    return Dump(json);
}

namespace {

// A BAR as the PCI library lists it, "NUMBER KIND SIZE PREFETCHABLE ADDRESS" (mem64 524288 1
// 0xfe000000): an object of the same.
nlohmann::json BarJson(const std::string &strBar)
{
    char szKind[16] = "";
    unsigned nNumber = 0, nPrefetch = 0;
    unsigned long long nSize = 0, nAddress = 0;
    if (sscanf(strBar.c_str(), "%u %15s %llu %u %llx", &nNumber, szKind, &nSize, &nPrefetch, &nAddress) != 5)
        return {{"text", strBar}};
    return {{"number", nNumber}, {"kind", szKind}, {"size", nSize}, {"prefetchable", nPrefetch != 0}, {"address", nAddress}};
}

} // namespace

std::string ListedJson(const std::vector<std::pair<std::string, std::string>> &aFields, int nLine)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    SetLine(json, nLine);
    json["op"] = "list";
    for (const auto &field : aFields) {
        if (field.first == "type" || field.first == "number")
            json[field.first] = strtoul(field.second.c_str(), nullptr, 10);
        else if (field.first == "bars")
            continue; // the table's text of them; the record has each BAR as an object
        else if (field.first == "bar")
            json["bars"].push_back(BarJson(field.second));
        else
            json[field.first] = field.second;
    }
    if (json.contains("slot") && !json.contains("bars") && !json.contains("error"))
        json["bars"] = nlohmann::json::array();
    return Dump(json);
}

std::string NoneJson(int nLine)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    SetLine(json, nLine);
    json["op"] = "none";
    return Dump(json);
}

std::string OpenFailureJson(int32_t nBoardType, uint32_t nBoardNumber, KYN_RESULT nResult, const std::string &strText)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    json["op"] = "open";
    json["board_type"] = nBoardType;
    json["board_number"] = nBoardNumber;
    json["result"] = nResult;
    json["code"] = ReportedText(nResult);
    json["error"] = strText;
    return Dump(json);
}

std::string NameJson(int nLine, bool bBridge, const std::string &strName)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    SetLine(json, nLine);
    json["op"] = "name";
    json["device"] = bBridge ? "bridge" : "board";
    json["name"] = strName;
    return Dump(json);
}

std::string HexdumpJson(int nLine, bool bBridge, const std::string &strHeader, uint32_t nStart, const std::vector<int> &anBytes)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    SetLine(json, nLine);
    json["op"] = "hexdump";
    SetDevice(json, bBridge);
    json["header"] = strHeader;
    json["start"] = nStart;
    json["length"] = anBytes.size();
    nlohmann::json bytes = nlohmann::json::array();
    for (int nByte : anBytes)
        bytes.push_back(nByte < 0 ? nlohmann::json(nullptr) : nlohmann::json(nByte));
    json["bytes"] = bytes;
    return Dump(json);
}

std::string CompareJson(const CompareRecord &record)
{
    nlohmann::json json = {{"version", kRecordsVersion}, {"op", "compare"}, {"space", record.pszSpace}, {"address", record.nAddress},
                           {"before", record.nBefore}, {"after", record.nAfter}};
    if (record.nBar >= 0)
        json["bar"] = record.nBar;
    if (record.pRegister == nullptr)
        return Dump(json);
    json["name"] = record.pRegister->strName;
    // The fields whose values differ, each as a value's field is, with both values.
    nlohmann::json fields = nlohmann::json::array();
    std::vector<FieldValue> aBefore = MapFieldValues(*record.pRegister, record.nBefore);
    std::vector<FieldValue> aAfter = MapFieldValues(*record.pRegister, record.nAfter);
    for (size_t i = 0; i < aBefore.size(); ++i) {
        if (aBefore[i].pField->nLsb >= 32 || aBefore[i].nValue == aAfter[i].nValue)
            continue;
        nlohmann::json field = {{"name", aBefore[i].pField->strName}, {"lsb", aBefore[i].pField->nLsb},
                                {"width", aBefore[i].pField->nWidth}, {"before", aBefore[i].nValue}, {"after", aAfter[i].nValue}};
        if (!aBefore[i].strEnum.empty())
            field["before_enum"] = aBefore[i].strEnum;
        if (!aAfter[i].strEnum.empty())
            field["after_enum"] = aAfter[i].strEnum;
        fields.push_back(field);
    }
    json["fields"] = fields;
    return Dump(json);
}
