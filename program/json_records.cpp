// json_records.cpp - the machine contract's records written with nlohmann's JSON library: every name a
// map gives, every text a library gives, escaped as JSON requires.
#include "json_records.h"

#include <stdio.h>

#include <charconv>

#include <nlohmann/json.hpp>

#include "error_report.h"

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

} // namespace

namespace {

// A number in decimal after the text, as the library prints it.
template <typename Number> void AppendNumber(std::string &strJson, const char *pszBefore, Number nValue)
{
    char szDigits[24];
    strJson += pszBefore;
    strJson.append(szDigits, std::to_chars(szDigits, szDigits + sizeof szDigits, nValue).ptr);
}

} // namespace

std::string AccessJson(const AccessRecord &record)
{
    // The commonest record, written directly in the library's own form (members in name order,
    // numbers as it prints them); its strings still go through the library, which escapes them. A
    // batch of reads then costs little more in JSON than in text.
    std::string strJson;
    strJson.reserve(128);
    AppendNumber(strJson, "{\"address\":", record.nAddress);
    if (record.nResult < 0)
        strJson += ",\"code\":" + Dump(ReportedText(record.nResult));
    strJson += record.bBridge ? ",\"device\":\"bridge\"" : ",\"device\":\"board\"";
    if (record.nResult < 0)
        strJson += ",\"error\":" + Dump(record.strError);
    if (!record.strFields.empty())
        strJson += ",\"fields\":" + Dump(record.strFields);
    if (record.nLine > 0)
        AppendNumber(strJson, ",\"line\":", record.nLine);
    if (!record.strName.empty())
        strJson += ",\"name\":" + Dump(record.strName);
    // The operation is one of the tool's own words ("read", "write"): nothing to escape.
    strJson += record.bWrite ? ",\"op\":\"write\"" : ",\"op\":\"read\"";
    AppendNumber(strJson, ",\"result\":", (long long)record.nResult);
    if (record.nResult >= 0)
        AppendNumber(strJson, ",\"value\":", (unsigned long long)record.nValue);
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
    json["device"] = record.bBridge ? "bridge" : "board";
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
        json["fields"] = record.strFields;
    } else {
        json["skipped"] = record.strSkipped;
    }
    if (record.bReset)
        json["reset"] = record.nReset;
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

std::string ListedJson(const std::vector<std::pair<std::string, std::string>> &aFields, int nLine)
{
    nlohmann::json json;
    json["version"] = kRecordsVersion;
    SetLine(json, nLine);
    json["op"] = "list";
    for (const auto &field : aFields) {
        if (field.first == "type" || field.first == "number")
            json[field.first] = strtoul(field.second.c_str(), nullptr, 10);
        else
            json[field.first] = field.second;
    }
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
    json["device"] = bBridge ? "bridge" : "board";
    json["header"] = strHeader;
    json["start"] = nStart;
    json["length"] = anBytes.size();
    nlohmann::json bytes = nlohmann::json::array();
    for (int nByte : anBytes)
        bytes.push_back(nByte < 0 ? nlohmann::json(nullptr) : nlohmann::json(nByte));
    json["bytes"] = bytes;
    return Dump(json);
}
