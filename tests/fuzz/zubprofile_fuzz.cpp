// libFuzzer target for the settings file, in memory: any bytes are a settings file. Reading
// what was written must give the same file and the same values; values written by the program
// (numbers at their limits, text with NUL bytes, line breaks, brackets) must read back and
// leave every other key as it was. Factors and the app's parameters must survive their text.
#include "zubapp.h"
#include "zubprofile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace
{
using namespace std::string_literals;

void Check(bool condition)
{
    if (!condition)
        abort();
}

struct SName
{
    std::string section;
    std::string key;
};

std::string Trimmed(std::string_view s)
{
    const size_t first = s.find_first_not_of(" \t");
    return first == std::string_view::npos ? std::string() : std::string(s.substr(first, s.find_last_not_of(" \t") + 1 - first));
}

// The program's names, and every name the text might hold (a superset: what stands between
// brackets, with and without blanks, and before an '=' under it), so that values can be
// compared without the parser's help.
std::vector<SName> NamesIn(const std::string& text)
{
    std::vector<SName> names;
    for (const char* section : {"Settings", "Test", "KIV_Algorithm", "New"})
        for (const char* key : {"DarkFrames", "LogFilename", "ROIFactorBright", "ListSize"})
            names.push_back({section, key});
    std::string sections[2];
    size_t begin = 0;
    while (begin < text.size() && names.size() < 64)
    {
        size_t end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end;
        const std::string_view line(text.data() + begin, end - begin);
        const size_t open = line.find('[');
        const size_t close = line.rfind(']');
        if (open != std::string_view::npos && close != std::string_view::npos && close > open)
        {
            sections[0] = line.substr(open + 1, close - open - 1);
            sections[1] = Trimmed(sections[0]);
        }
        const size_t eq = line.find('=');
        if (eq != std::string_view::npos)
            for (const std::string& section : sections)
                names.push_back({section, Trimmed(line.substr(0, eq))});
        begin = end + 1;
    }
    return names;
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

struct SValue
{
    CZubProfile::EValue intState;
    int number = 0;
    CZubProfile::EValue textState;
    std::string text;
    bool operator==(const SValue&) const = default;
};

SValue ValueOf(const CZubProfile& profile, const SName& name)
{
    SValue v{};
    v.intState = profile.QueryInt(name.section, name.key, v.number);
    v.textState = profile.QueryString(name.section, name.key, v.text);
    return v;
}

CZubProfile Reread(const CZubProfile& profile)
{
    CZubProfile reread("");
    reread.LoadText(profile.FormatText());
    return reread;
}

// A factor as the file and the dialogs show it reads back as the same text, and as the value
// itself once the value is a whole number (every double from 2^53 on is).
void CheckFactor(double value)
{
    const std::string text = ZubFormatFactor(value);
    if (!std::isfinite(value))
        return;
    const double read = ZubParseFactor(text);
    Check(ZubFormatFactor(read) == text);
    Check(std::fabs(value) < 0x1p53 ? std::fabs(read - value) <= 0.0005 + std::fabs(value) * 1e-15 : read == value);
}

// A parameter set from any text, when taken, shows a value that sets it to the same again.
void CheckParam(const char* section, const char* key, const std::string& text)
{
    CZubApp& app = ZubApp();
    std::string error;
    std::string shown;
    if (!app.SetParam(section, key, text, error))
        return;
    Check(app.GetParam(section, key, shown));
    const size_t begin = shown.find_first_not_of(' ');
    std::string again;
    Check(app.SetParam(section, key, shown.substr(begin == std::string::npos ? 0 : begin), error));
    Check(app.GetParam(section, key, again) && again == shown);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("ZUB_REGISTRY", "/nonexistent/zubprofile_fuzz.ini", 1);  // never the user's settings
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CZubProfile first("");
    first.LoadText(text);
    const CZubProfile second = Reread(first);
    Check(second.FormatText() == first.FormatText());
    const std::vector<SName> names = NamesIn(text);
    std::vector<SValue> before;
    for (const SName& name : names)
    {
        before.push_back(ValueOf(first, name));
        Check(ValueOf(second, name) == before.back());
    }

    FuzzedDataProvider input(data, size);
    const int number = input.ConsumeIntegral<int>();
    const double factor = std::bit_cast<double>(input.ConsumeIntegral<uint64_t>());
    const std::string piece = input.ConsumeRandomLengthString(64);
    const struct
    {
        SName name;
        bool bInt;
        int number;
        std::string text;
    } writes[] = {
        {{"Settings", "DarkFrames"}, true, number, {}},
        {{"settings", "MinIncrBright"}, true, INT_MIN, {}},
        {{"New", "ListSize"}, true, INT_MAX, {}},
        {{"Test", "LogFilename"}, false, 0, piece},
        {{"Test", "Other"}, false, 0, "a\0b\r\n[Test]\nx=dword:1\r"s},
        {{"KIV_Algorithm", "ROIFactorBright"}, false, 0, ZubFormatFactor(factor)},
    };
    for (const auto& w : writes)
        w.bInt ? first.WriteProfileInt(w.name.section, w.name.key, w.number)
               : first.WriteProfileString(w.name.section, w.name.key, w.text);
    const CZubProfile written = Reread(first);
    for (const auto& w : writes)
    {
        SValue expected{};
        if (w.bInt)
        {
            expected = {CZubProfile::EValue::Read, w.number, CZubProfile::EValue::Unreadable, {}};
        }
        else
        {
            std::string kept = w.text;  // line breaks become blanks
            for (char& c : kept)
                c = c == '\r' || c == '\n' ? ' ' : c;
            expected = {CZubProfile::EValue::Unreadable, 0, CZubProfile::EValue::Read, kept};
        }
        Check(ValueOf(written, w.name) == expected);
    }
    for (size_t i = 0; i < names.size(); ++i)
    {
        bool bWritten = false;
        for (const auto& w : writes)
            bWritten = bWritten || (SameName(w.name.section, names[i].section) && SameName(w.name.key, names[i].key));
        if (!bWritten)
            Check(ValueOf(written, names[i]) == before[i]);
    }

    CheckFactor(factor);
    (void)ZubParseFactor(piece);
    CheckParam("Settings", "ROIFactorBright", piece);
    CheckParam("Settings", "ROIFactorSize", Trimmed(ZubFormatFactor(factor)));
    CheckParam("KIV_Algorithm", "MinIncrBright", piece);
    CheckParam("Settings", "ROIAutoNumFrames", std::to_string(number));
    CheckParam("Settings", "ShowHisto", piece);
    return 0;
}
