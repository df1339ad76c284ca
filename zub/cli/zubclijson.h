// The JSON zubcli writes: one object per video on one line, for scripts to collect.
#pragma once

#include <cstdint>
#include <string>

// `text` as a JSON string, quotes included. Bytes that are not UTF-8 (a file name in another
// encoding) become U+FFFD, so that the line stays valid JSON.
std::string ZubJsonString(const std::string& text);

// Builds one object member by member, in the order given.
class CZubJsonObject
{
public:
    CZubJsonObject& Add(const std::string& key, const std::string& text);
    CZubJsonObject& Add(const std::string& key, const char* text) { return Add(key, std::string(text)); }
    CZubJsonObject& Add(const std::string& key, int64_t number);
    CZubJsonObject& Add(const std::string& key, int number) { return Add(key, static_cast<int64_t>(number)); }
    CZubJsonObject& Add(const std::string& key, double number, int decimals);
    CZubJsonObject& Add(const std::string& key, bool value);
    CZubJsonObject& AddNull(const std::string& key);
    // A value already in JSON (an object, an array, a number as text).
    CZubJsonObject& AddRaw(const std::string& key, const std::string& json);
    std::string Text() const { return "{" + m_members + "}"; }

private:
    CZubJsonObject& Member(const std::string& key, const std::string& json);

    std::string m_members;
};
