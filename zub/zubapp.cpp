#include "zubapp.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace
{
// One persisted key: its section entry, the field it fills and its dump line.
struct SZubKey
{
    enum EKind { Int, Flag, Factor, Text };

    SZubKey(const char* n, int SZubParams::*p, const char* d) : name(n), kind(Int), pInt(p), dump(d) {}
    SZubKey(const char* n, bool SZubParams::*p, const char* d) : name(n), kind(Flag), pFlag(p), dump(d) {}
    SZubKey(const char* n, double SZubParams::*p, const char* d)
        : name(n), kind(Factor), pFactor(p), dump(d) {}
    SZubKey(const char* n, std::string SZubParams::*p, const char* d)
        : name(n), kind(Text), pText(p), dump(d) {}

    const char* name;
    EKind kind;
    int SZubParams::*pInt = nullptr;
    bool SZubParams::*pFlag = nullptr;
    double SZubParams::*pFactor = nullptr;
    std::string SZubParams::*pText = nullptr;
    const char* dump;  // null: the key has no dump line
};

struct SZubSection
{
    const char* name;
    const char* header;
    std::vector<SZubKey> keys;  // in dump order
};

using P = SZubParams;

const SZubSection kSettings{
    "Settings",
    "Reading Options parameters.",
    {
        {"ROIAutomatic", &P::ROIAutomatic, "ROIAutomatic:         %i"},
        {"ROIAutoNumFrames", &P::ROIAutoNumFrames, "ROIAutoNumFrames:     %i"},
        {"ROIManualWidth", &P::ROIManualWidth, "ROIManualWidth:       %i"},
        {"ROIManualHeight", &P::ROIManualHeight, "ROIManualHeight:      %i"},
        {"ROIFactorBright", &P::ROIFactorBright, "ROIFactorBright:   %7.3f"},
        {"ROIFactorSize", &P::ROIFactorSize, "ROIFactorSize:     %7.3f"},
        {"ShowHisto", &P::ShowHisto, "ShowHisto:            %i"},
        {"ShowConsole", &P::ShowConsole, "ShowConsole:          %i"},
        {"ShowResults", &P::ShowResults, "ShowResults:          %i"},
        {"ProcessAuto", &P::ProcessAuto, "ProcessAuto:          %i"},
        {"PlanetSizeFilter", &P::PlanetSizeFilter, "PlanetSizeFilter:     %i"},
        {"DarkAllFrames", &P::DarkAllFrames, "DarkAllFrames:        %i"},
        {"DarkFrames", &P::DarkFrames, "DarkFrames:           %i"},
        {"Simulation", &P::Simulation, "Simulation:           %i"},
        {"RejectDuplicities", &P::RejectDuplicities, "RejectDuplicities:    %i"},
        {"SilentMode", &P::SilentMode, "SilentMode:           %i"},
    }};

const SZubSection kSimulation{
    "Simulation",
    "Reading Simulation parameters.",
    {
        {"RelativePositionX", &P::RelativePositionX, "RelativePositionX:     %i"},
        {"RelativePositionY", &P::RelativePositionY, "RelativePositionY:     %i"},
        {"ImpactSize", &P::ImpactSize, "ImpactSize:            %i"},
        {"PositionRandom", &P::PositionRandom, "PositionRandom:        %i"},
        {"IntensityTotal", &P::IntensityTotal, "IntensityTotal:        %i"},
        {"IntensityInc", &P::IntensityInc, "IntensityInc:          %i"},
        {"IntensityRand", &P::IntensityRand, "IntensityRand:         %i"},
        {"FrameInitial", &P::FrameInitial, "FrameInitial:          %i"},
        {"FrameDuration", &P::FrameDuration, "FrameDuration:         %i"},
    }};

const SZubSection kTest{
    "Test",
    "Reading Test parameters.",
    {
        {"LimitProcessFrames", &P::LimitProcessFrames, "LimitProcessFrames:     %i"},
        {"ProcessFrames", &P::ProcessFrames, "ProcessFrames:          %i"},
        {"SaveAvgFrame", &P::SaveAvgFrame, "SaveAvgFrame:           %i"},
        {"SaveIntermediateFrames", &P::SaveIntermediateFrames, "SaveIntermediateFrames: %i"},
        {"SaveAllFrameNumber", &P::SaveAllFrameNumber, "SaveAllFrameNumber:     %i"},
        {"WriteConsole", &P::WriteConsole, "WriteConsole:           %i"},
        {"LogProcess", &P::LogProcess, "LogProcess:             %i"},
        {"LogFlush", &P::LogFlush, nullptr},
        {"LogResetAtOpenFile", &P::LogResetAtOpenFile, "LogResetAtOpenFile:     %i"},
        {"LogDetails", &P::LogDetails, "LogDetails:             %i"},
        {"LogDetailsFrames", &P::LogDetailsFrames, "LogDetailsFrames:       %i"},
        {"LogDetailsFramesFrom", &P::LogDetailsFramesFrom, "LogDetailsFramesFrom:   %i"},
        {"LogDetailsFramesTo", &P::LogDetailsFramesTo, "LogDetailsFramesTo:     %i"},
        {"LogImagesCsv", &P::LogImagesCsv, "LogImagesCsv:           %i"},
        {"LogFilename", &P::LogFilename, "LogFilename:            %s"},
    }};

const SZubSection kKiv{
    "KIV_Algorithm",
    "Reading KIV parameters.",
    {
        {"ListSize", &P::ListSize, "ListSize:               %i"},
        {"MinDetection", &P::MinDetection, "MinDetection:           %i"},
        {"MinIncrBright", &P::MinIncrBright, "MinIncrBright:          %i"},
        {"RadiusSearch", &P::RadiusSearch, "RadiusSearch:           %i"},
        {"SubstractAvg", &P::SubstractAvg, "SubstractAvg:           %i"},
        {"Mask", &P::Mask, "Mask:                   %i"},
        {"MaskPixels", &P::MaskPixels, "MaskPixels:             %i"},
        {"ZubDetection", &P::ZubDetection, "ZubDetection:           %i"},
        {"ZubThreshold", &P::ZubThreshold, "ZubThreshold:           %i"},
        {"ZubMinFrames", &P::ZubMinFrames, "ZubMinFrames:           %i"},
    }};

// What each number's use can take; a value read or set outside it is brought to the nearest
// bound (and logged), so no use meets a value it cannot handle. Keys not listed take any value
// their type holds: flags, frame numbers, offsets the simulation sums in 64 bits, ImpactSize
// (negative paints nothing), IntensityTotal and IntensityInc (the simulation checks them),
// ListSize (the KIV detector clamps it itself).
struct SZubRange
{
    const char* key;
    double lo;
    double hi;
};

constexpr double kAny = INT_MAX;

const SZubRange kRanges[] = {
    {"ROIAutoNumFrames", 0, kAny},
    {"ROIManualWidth", 0, kAny},
    {"ROIManualHeight", 0, kAny},
    // Above 1 the threshold falls below the darkest level: the whole frame (the dialog allows
    // it); 10 keeps the factor times a 16-bit range well inside int.
    {"ROIFactorBright", 0, 10},
    {"ROIFactorSize", 0, 100},  // 0 gives an empty ROI, which the ROI step replaces by the frame
    {"PlanetSizeFilter", 0, kAny},
    {"DarkFrames", 0, kAny},
    {"RejectDuplicities", 0, kAny},
    {"PositionRandom", 0, kAny},
    {"IntensityRand", 0, kAny},
    {"FrameDuration", 0, kAny},
    {"ProcessFrames", 0, kAny},
    {"MinDetection", 0, kAny},
    {"MinIncrBright", 0, 255},  // a brightness step above the 128 of no change
    {"RadiusSearch", 0, kAny},
    {"MaskPixels", 0, kAny},
    {"ZubThreshold", 0, kAny},
    {"ZubMinFrames", 0, kAny},
};

const SZubRange* RangeOf(const SZubKey& key)
{
    for (const SZubRange& range : kRanges)
        if (std::string(range.key) == key.name)
            return &range;
    return nullptr;
}

// Reading and writing take the factors first, then the rest in dump order.
std::vector<const SZubKey*> StorageOrder(const SZubSection& section)
{
    std::vector<const SZubKey*> order;
    for (const SZubKey& key : section.keys)
        if (key.kind == SZubKey::Factor)
            order.push_back(&key);
    for (const SZubKey& key : section.keys)
        if (key.kind != SZubKey::Factor)
            order.push_back(&key);
    return order;
}

// Locale-independent: the settings file must read the same under every locale.
double ParseFactor(const std::string& text)
{
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return 0.0;
    double value = 0.0;
    const char* first = text.data() + begin;
    if (*first == '+')
        ++first;
    if (std::from_chars(first, text.data() + text.size(), value).ec != std::errc())
        return 0.0;
    return value;
}

// "%7.3f", independent of the locale. The buffer holds the largest double in full (309
// digits), so every value is written and reads back as it was.
std::string FormatFactor(double value)
{
    char digits[400];
    const auto result = std::to_chars(digits, digits + sizeof digits, value,
                                      std::chars_format::fixed, 3);
    if (result.ec != std::errc())
        return "    nan";  // cannot happen with this buffer; never text from an unset one
    std::string text(digits, result.ptr);
    if (text.size() < 7)
        text.insert(0, 7 - text.size(), ' ');
    return text;
}

std::string Trimmed(const std::string& text)
{
    const size_t b = text.find_first_not_of(' ');
    return b == std::string::npos ? text : text.substr(b);
}

// Brings an int or factor key's value into its range; logs and returns true when it moved.
bool LimitToRange(const char* section, const SZubKey& key, SZubParams& params, CZubLog& log)
{
    const SZubRange* range = RangeOf(key);
    if (!range || (key.kind != SZubKey::Int && key.kind != SZubKey::Factor))
        return false;
    std::string shown;
    if (key.kind == SZubKey::Int)
    {
        int& value = params.*key.pInt;
        const int limited = std::clamp(value, static_cast<int>(range->lo), static_cast<int>(range->hi));
        if (limited == value)
            return false;
        value = limited;
        shown = std::to_string(value);
    }
    else
    {
        double& value = params.*key.pFactor;
        if (!std::isfinite(value) || (value >= range->lo && value <= range->hi))
            return false;  // non-finite ones are the callers' to replace
        value = std::clamp(value, range->lo, range->hi);
        shown = Trimmed(FormatFactor(value));
    }
    log.LogText(std::string("Setting ") + section + "." + key.name + " limited to " + shown + ".");
    return true;
}

// Reads one key; a value that is there but cannot be read gives the default and says so.
void ReadKey(const CZubProfile& profile, const char* section, const SZubKey& key,
             const SZubParams& defaults, SZubParams& params, CZubLog& log)
{
    int number = 0;
    std::string text;
    std::string shownDefault;
    CZubProfile::EValue state = CZubProfile::EValue::Missing;
    switch (key.kind)
    {
    case SZubKey::Int:
    case SZubKey::Flag:
        number = key.kind == SZubKey::Int ? defaults.*key.pInt : int(defaults.*key.pFlag);
        shownDefault = std::to_string(number);
        state = profile.QueryInt(section, key.name, number);
        if (key.kind == SZubKey::Int)
            params.*key.pInt = number;
        else
            params.*key.pFlag = number != 0;
        break;
    case SZubKey::Factor:
        text = FormatFactor(defaults.*key.pFactor);
        shownDefault = Trimmed(text);
        state = profile.QueryString(section, key.name, text);
        params.*key.pFactor = ParseFactor(text);
        if (!std::isfinite(params.*key.pFactor))
        {
            params.*key.pFactor = defaults.*key.pFactor;
            state = CZubProfile::EValue::Unreadable;
        }
        break;
    case SZubKey::Text:
        text = shownDefault = defaults.*key.pText;
        state = profile.QueryString(section, key.name, text);
        params.*key.pText = text;
        break;
    }
    if (state == CZubProfile::EValue::Unreadable)
        log.LogText(std::string("Cannot read setting ") + section + "." + key.name +
                    ", default used: " + shownDefault);
    else if (state == CZubProfile::EValue::Read)
        LimitToRange(section, key, params, log);
}

void WriteKey(CZubProfile& profile, const char* section, const SZubKey& key,
              const SZubParams& params)
{
    switch (key.kind)
    {
    case SZubKey::Int:
        profile.WriteProfileInt(section, key.name, params.*key.pInt);
        break;
    case SZubKey::Flag:
        profile.WriteProfileInt(section, key.name, params.*key.pFlag ? 1 : 0);
        break;
    case SZubKey::Factor:
        profile.WriteProfileString(section, key.name, FormatFactor(params.*key.pFactor));
        break;
    case SZubKey::Text:
        profile.WriteProfileString(section, key.name, params.*key.pText);
        break;
    }
}

std::string DumpLine(const SZubKey& key, const SZubParams& params)
{
    char line[256];
    switch (key.kind)
    {
    case SZubKey::Int:
        std::snprintf(line, sizeof line, key.dump, params.*key.pInt);
        break;
    case SZubKey::Flag:
        std::snprintf(line, sizeof line, key.dump, params.*key.pFlag ? 1 : 0);
        break;
    case SZubKey::Factor:
        std::snprintf(line, sizeof line, key.dump, params.*key.pFactor);
        break;
    case SZubKey::Text:
        return std::string(key.dump, std::string(key.dump).find('%')) + params.*key.pText;
    }
    return line;
}

// A number that does not fit its type is refused; one outside its key's range is limited; a
// non-finite factor gives the default, as in the file.
bool SetKeyFromText(const char* section, const SZubKey& key, const std::string& text, SZubParams& params,
                    CZubLog& log, std::string& error)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    int number = 0;
    double factor = 0.0;
    switch (key.kind)
    {
    case SZubKey::Int:
    case SZubKey::Flag:
    {
        const auto parsed = std::from_chars(first, last, number);
        if (text.empty() || parsed.ec != std::errc() || parsed.ptr != last ||
            (key.kind == SZubKey::Flag && number != 0 && number != 1))
            break;
        if (key.kind == SZubKey::Int)
            params.*key.pInt = number;
        else
            params.*key.pFlag = number != 0;
        LimitToRange(section, key, params, log);
        return true;
    }
    case SZubKey::Factor:
    {
        const auto parsed = std::from_chars(first, last, factor);
        if (text.empty() || parsed.ec != std::errc() || parsed.ptr != last)
            break;
        if (!std::isfinite(factor))
        {
            // No use takes it: the default, as when the file holds it.
            params.*key.pFactor = SZubParams::Defaults().*key.pFactor;
            log.LogText(std::string("Cannot read setting ") + section + "." + key.name +
                        ", default used: " + Trimmed(FormatFactor(params.*key.pFactor)));
            return true;
        }
        params.*key.pFactor = factor;
        LimitToRange(section, key, params, log);
        return true;
    }
    case SZubKey::Text:
        params.*key.pText = text;
        return true;
    }
    error = std::string("bad value '") + text + "' for " + key.name +
            (key.kind == SZubKey::Flag ? " (0 or 1)" : key.kind == SZubKey::Int ? " (an integer)" : " (a number)");
    return false;
}

void DumpSection(const SZubSection& section, const SZubParams& params, CZubLog& log)
{
    log.LogText("");
    log.LogText(section.header);
    for (const SZubKey& key : section.keys)
        if (key.dump)
            log.LogText(DumpLine(key, params));
}

void ReadSection(const CZubProfile& profile, const SZubSection& section, SZubParams& params,
                 CZubLog& log, bool bDump = true)
{
    const SZubParams defaults = SZubParams::Defaults();
    for (const SZubKey* key : StorageOrder(section))
        ReadKey(profile, section.name, *key, defaults, params, log);
    if (bDump)
        DumpSection(section, params, log);
}

bool SameValue(const SZubKey& key, const SZubParams& a, const SZubParams& b)
{
    switch (key.kind)
    {
    case SZubKey::Int:
        return a.*key.pInt == b.*key.pInt;
    case SZubKey::Flag:
        return a.*key.pFlag == b.*key.pFlag;
    case SZubKey::Factor:
        return a.*key.pFactor == b.*key.pFactor;
    case SZubKey::Text:
        return a.*key.pText == b.*key.pText;
    }
    return true;
}

bool WriteSection(CZubProfile& profile, const SZubSection& section, const SZubParams& params,
                  CZubLog& log)
{
    profile.Load();  // keep what others wrote since we read
    for (const SZubKey* key : StorageOrder(section))
        WriteKey(profile, section.name, *key, params);
    if (profile.Save())
        return true;
    log.LogText("Cannot write settings file: " + profile.GetPath());
    return false;
}
}  // namespace

SZubParams SZubParams::Defaults()
{
    SZubParams p;
    p.ROIAutoNumFrames = 20;
    p.ROIFactorBright = 0.9;
    p.ROIFactorSize = 1.1;
    p.ShowResults = true;
    p.PlanetSizeFilter = 5;
    p.DarkFrames = 20;
    p.RejectDuplicities = 20;

    p.ImpactSize = 1;
    p.IntensityTotal = 250;
    p.IntensityInc = 20;
    p.FrameInitial = 50;
    p.FrameDuration = 20;

    p.ProcessFrames = 100;
    p.LogFilename = "zub.log";

    p.ListSize = 20;
    p.MinDetection = 3;
    p.MinIncrBright = 20;
    p.RadiusSearch = 10;
    p.SubstractAvg = true;
    p.Mask = true;
    p.MaskPixels = 40;
    p.ZubDetection = true;
    p.ZubThreshold = 6;
    p.ZubMinFrames = 2;
    return p;
}

CZubApp::CZubApp() : m_log(m_params), m_profile(CZubProfile::DefaultPath()) {}

void CZubApp::ReadSettingsParams() { ReadSection(LoadProfile(), kSettings, m_params, m_log); }
void CZubApp::ReadSimulationParams() { ReadSection(LoadProfile(), kSimulation, m_params, m_log); }
void CZubApp::ReadTestParams() { ReadSection(LoadProfile(), kTest, m_params, m_log); }
void CZubApp::ReadKivParams() { ReadSection(LoadProfile(), kKiv, m_params, m_log); }

// Every section reader loads the file; a file that cannot be read is reported once.
const CZubProfile& CZubApp::LoadProfile()
{
    m_profile.Load();
    if (m_profile.IsUnreadable() && !m_bProfileTroubleLogged)
        m_log.LogText("Cannot read settings file, defaults used: " + m_profile.GetPath());
    m_bProfileTroubleLogged = m_profile.IsUnreadable();
    return m_profile;
}

bool CZubApp::WriteSettingsParams() { return WriteSection(m_profile, kSettings, m_params, m_log); }
bool CZubApp::WriteSimulationParams() { return WriteSection(m_profile, kSimulation, m_params, m_log); }
bool CZubApp::WriteTestParams() { return WriteSection(m_profile, kTest, m_params, m_log); }
bool CZubApp::WriteKivParams() { return WriteSection(m_profile, kKiv, m_params, m_log); }

void CZubApp::ReadAllParams()
{
    ReadTestParams();
    ReadSettingsParams();
    ReadSimulationParams();
    ReadKivParams();
}

void CZubApp::ReadAllParamsQuietly()
{
    for (const SZubSection* section : {&kTest, &kSettings, &kSimulation, &kKiv})
        ReadSection(LoadProfile(), *section, m_params, m_log, false);
}

void CZubApp::DumpAllParams()
{
    for (const SZubSection* section : {&kTest, &kSettings, &kSimulation, &kKiv})
        DumpSection(*section, m_params, m_log);
}

std::vector<SZubParamText> CZubApp::ChangedParams() const
{
    const SZubParams defaults = SZubParams::Defaults();
    std::vector<SZubParamText> changed;
    for (const SZubSection* section : {&kSettings, &kSimulation, &kTest, &kKiv})
        for (const SZubKey& key : section->keys)
        {
            if (SameValue(key, m_params, defaults))
                continue;
            SZubParamText param{std::string(section->name) + "." + key.name, "", key.kind == SZubKey::Text};
            GetParam(section->name, key.name, param.value);
            changed.push_back(std::move(param));
        }
    return changed;
}

std::vector<SZubParamText> CZubApp::AllParams() const
{
    std::vector<SZubParamText> all;
    for (const SZubSection* section : {&kSettings, &kSimulation, &kTest, &kKiv})
        for (const SZubKey& key : section->keys)
        {
            SZubParamText param{std::string(section->name) + "." + key.name, "", key.kind == SZubKey::Text};
            GetParam(section->name, key.name, param.value);
            all.push_back(std::move(param));
        }
    return all;
}

bool CZubApp::WriteAllParams()
{
    bool ok = WriteTestParams();
    ok = WriteSettingsParams() && ok;
    ok = WriteSimulationParams() && ok;
    ok = WriteKivParams() && ok;
    return ok;
}

void CZubApp::InitInstance()
{
    ReadAllParams();
    m_bSilent = m_params.SilentMode;
}

bool CZubApp::ExitInstance()
{
    return WriteAllParams();
}

bool CZubApp::SetParam(const std::string& section, const std::string& key, const std::string& value,
                       std::string& error)
{
    for (const SZubSection* s : {&kSettings, &kSimulation, &kTest, &kKiv})
    {
        if (section != s->name)
            continue;
        for (const SZubKey& k : s->keys)
            if (key == k.name)
                return SetKeyFromText(s->name, k, value, m_params, m_log, error);
    }
    error = "unknown parameter " + section + "." + key;
    return false;
}

bool CZubApp::GetParam(const std::string& section, const std::string& key, std::string& value) const
{
    for (const SZubSection* s : {&kSettings, &kSimulation, &kTest, &kKiv})
    {
        if (section != s->name)
            continue;
        for (const SZubKey& k : s->keys)
        {
            if (key != k.name)
                continue;
            switch (k.kind)
            {
            case SZubKey::Int:
                value = std::to_string(m_params.*k.pInt);
                break;
            case SZubKey::Flag:
                value = std::to_string(m_params.*k.pFlag ? 1 : 0);
                break;
            case SZubKey::Factor:
                value = FormatFactor(m_params.*k.pFactor);
                break;
            case SZubKey::Text:
                value = m_params.*k.pText;
                break;
            }
            return true;
        }
    }
    return false;
}

void CZubApp::SetProfilePath(const std::string& path)
{
    m_profile = CZubProfile(path);
    m_bProfileTroubleLogged = false;
}

std::string ZubFormatFactor(double value) { return FormatFactor(value); }
double ZubParseFactor(const std::string& text) { return ParseFactor(text); }

CZubApp& ZubApp()
{
    static CZubApp app;
    return app;
}

void ZubMessageBox(const std::string& text)
{
    if (IZubShell* shell = ZubApp().GetShell())
        shell->MessageBox(text);
    else
        std::fprintf(stderr, "Zub: %s\n", text.c_str());
}

void ZubTrace(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}
