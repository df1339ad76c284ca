#include "zubclijson.h"

#include <cmath>
#include <cstdio>

namespace
{
// Length of the well-formed UTF-8 sequence at `p` (at most `left` bytes), or 0.
size_t Utf8Length(const unsigned char* p, size_t left)
{
    const unsigned char c = p[0];
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
        length = 2;
    else if (c >= 0xE0 && c <= 0xEF)
    {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;  // no surrogates
    }
    else if (c >= 0xF0 && c <= 0xF4)
    {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || length > left || p[1] < low || p[1] > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return length;
}
}  // namespace

std::string ZubJsonString(const std::string& text)
{
    std::string out = "\"";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();)
    {
        const unsigned char c = bytes[i];
        if (c >= 0x80)
        {
            const size_t length = Utf8Length(bytes + i, text.size() - i);
            out += length ? text.substr(i, length) : "\\ufffd";
            i += length ? length : 1;
            continue;
        }
        switch (c)
        {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F)
            {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            }
            else
                out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

CZubJsonObject& CZubJsonObject::Member(const std::string& key, const std::string& json)
{
    if (!m_members.empty())
        m_members += ",";
    m_members += ZubJsonString(key) + ":" + json;
    return *this;
}

CZubJsonObject& CZubJsonObject::Add(const std::string& key, const std::string& text)
{
    return Member(key, ZubJsonString(text));
}

CZubJsonObject& CZubJsonObject::Add(const std::string& key, int64_t number)
{
    return Member(key, std::to_string(number));
}

CZubJsonObject& CZubJsonObject::Add(const std::string& key, double number, int decimals)
{
    if (!std::isfinite(number))
        return AddNull(key);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, number);
    return Member(key, text);
}

CZubJsonObject& CZubJsonObject::Add(const std::string& key, bool value)
{
    return Member(key, value ? "true" : "false");
}

CZubJsonObject& CZubJsonObject::AddNull(const std::string& key)
{
    return Member(key, "null");
}

CZubJsonObject& CZubJsonObject::AddRaw(const std::string& key, const std::string& json)
{
    return Member(key, json);
}
