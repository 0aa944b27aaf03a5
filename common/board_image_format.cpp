// board_image_format.cpp - the one reader and writer of a board image's manifest, with nlohmann's JSON
// library: each member read with its type checked, so a manifest of another version is refused and
// a manifest written without spaces reads as well as one written with them.
#include "board_image_format.h"

#include <nlohmann/json.hpp>

#include "duze_limits.h"
#include "printable.h"

const char *const kImageFormat = "duzedevazu-image";

namespace {

// The identity files an image keeps of its device, in the order the save reads them.
const char *const kIdentityNames[] = {"vendor", "device", "class", "revision", "subsystem_vendor", "subsystem_device"};

bool Unsigned(const nlohmann::json &json, const char *pszName, uint64_t &nValue)
{
    auto it = json.find(pszName);
    if (it == json.end() || !it->is_number_unsigned())
        return false;
    nValue = it->get<uint64_t>();
    return true;
}

std::string Text(const nlohmann::json &json, const char *pszName)
{
    auto it = json.find(pszName);
    return it != json.end() && it->is_string() ? it->get<std::string>() : "";
}

// A BAR's entry: false where it is no object, names no BAR 0 to 5 or gives no size.
bool ReadBar(const nlohmann::json &entry, ImageBar &bar)
{
    uint64_t nBar = 0;
    if (!entry.is_object() || !Unsigned(entry, "bar", nBar) || nBar > 5 || !Unsigned(entry, "size", bar.nSize))
        return false;
    bar.nBar = (uint32_t)nBar;
    Unsigned(entry, "flags", bar.nFlags);
    Unsigned(entry, "saved", bar.nSaved);
    bar.bMemory = Text(entry, "kind") == "memory";
    bar.strSkipped = Text(entry, "skipped");
    auto it = entry.find("unread");
    for (size_t i = 0; it != entry.end() && it->is_array() && i < it->size(); ++i) {
        const nlohmann::json &word = (*it)[i];
        ImageUnread unread;
        if (word.is_object() && Unsigned(word, "address", unread.nAddress)) {
            unread.strName = Text(word, "name");
            unread.strWhy = Text(word, "why");
            bar.aUnread.push_back(unread);
        }
    }
    return true;
}

// Whether the text's arrays and objects nest at most kManifestDepthMax deep, strings skipped: a
// value nested 100,000 deep would be shown, and freed, by recursion.
bool ShallowEnough(const std::string &strText)
{
    size_t nDepth = 0;
    bool bString = false;
    for (size_t i = 0; i < strText.size(); ++i) {
        char c = strText[i];
        if (bString) {
            i += c == '\\' ? 1 : 0;
            bString = c != '"';
        } else if (c == '"') {
            bString = true;
        } else if (c == '[' || c == '{') {
            if (++nDepth > kManifestDepthMax)
                return false;
        } else if (c == ']' || c == '}') {
            nDepth -= nDepth > 0 ? 1 : 0;
        }
    }
    return true;
}

} // namespace

std::string ImageIdentity(const ImageManifest &manifest, const char *pszName)
{
    for (const auto &item : manifest.aIdentity)
        if (item.first == pszName)
            return item.second;
    return "";
}

const ImageBar *FirstMemoryBar(const ImageManifest &manifest)
{
    for (const ImageBar &bar : manifest.aBars)
        if (bar.bMemory)
            return &bar;
    return nullptr;
}

bool ReadImageManifest(const std::string &strText, ImageManifest &manifest, std::string &strWhy)
{
    manifest = ImageManifest();
    if (!ShallowEnough(strText)) {
        strWhy = "manifest.json nests deeper than " + std::to_string(kManifestDepthMax) + " levels: no image's does";
        return false;
    }
    nlohmann::json json = nlohmann::json::parse(strText, nullptr, false);
    if (json.is_discarded() || !json.is_object() || Text(json, "format") != kImageFormat) {
        strWhy = "manifest.json is not a DuzeDevazu image's manifest";
        return false;
    }
    auto itVersion = json.find("version");
    if (itVersion == json.end() || !itVersion->is_number_integer() || itVersion->get<int64_t>() != kImageVersion) {
        strWhy = "the image is of format version " + ShownValue(itVersion == json.end() ? "none" : itVersion->dump()) +
                 "; this tool reads version " + std::to_string(kImageVersion);
        return false;
    }
    // A slot of the wrong type is no slot: the caller finds no device directory for "".
    manifest.strSlot = Text(json, "slot");
    for (const char *pszName : kIdentityNames)
        if (json.contains(pszName))
            manifest.aIdentity.push_back({pszName, Text(json, pszName)});
    manifest.strDriver = Text(json, "driver");
    if (!Unsigned(json, "config_size", manifest.nConfigSize))
        manifest.nConfigSize = UINT64_MAX;
    auto itBars = json.find("bars");
    for (size_t i = 0; itBars != json.end() && itBars->is_array() && i < itBars->size(); ++i) {
        ImageBar bar;
        if (!ReadBar((*itBars)[i], bar)) {
            strWhy = "the manifest's BAR " + std::to_string(i) + " is malformed";
            return false;
        }
        manifest.aBars.push_back(bar);
    }
    manifest.strTool = Text(json, "tool");
    manifest.strTime = Text(json, "time");
    auto itMaps = json.find("maps");
    for (size_t i = 0; itMaps != json.end() && itMaps->is_array() && i < itMaps->size(); ++i)
        if ((*itMaps)[i].is_string())
            manifest.aMaps.push_back((*itMaps)[i].get<std::string>());
    return true;
}

std::string ImageManifestText(const ImageManifest &manifest)
{
    nlohmann::json json;
    json["format"] = kImageFormat;
    json["version"] = kImageVersion;
    json["slot"] = manifest.strSlot;
    for (const auto &item : manifest.aIdentity)
        json[item.first] = item.second;
    json["driver"] = manifest.strDriver;
    json["config_size"] = manifest.nConfigSize;
    json["bars"] = nlohmann::json::array();
    for (const ImageBar &bar : manifest.aBars) {
        nlohmann::json entry = {{"bar", bar.nBar}, {"flags", bar.nFlags}, {"size", bar.nSize},
                                {"kind", bar.bMemory ? "memory" : "io"}, {"saved", bar.nSaved}};
        if (!bar.strSkipped.empty())
            entry["skipped"] = bar.strSkipped;
        for (const ImageUnread &unread : bar.aUnread)
            entry["unread"].push_back({{"address", unread.nAddress}, {"name", unread.strName}, {"why", unread.strWhy}});
        json["bars"].push_back(entry);
    }
    json["tool"] = manifest.strTool;
    json["time"] = manifest.strTime;
    json["maps"] = manifest.aMaps;
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string ShownValue(const std::string &strValue)
{
    const size_t kShownBytes = 64;
    return strValue.size() <= kShownBytes ? Printable(strValue) : Printable(strValue.substr(0, kShownBytes)) + "...";
}
