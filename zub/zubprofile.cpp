#include "zubprofile.h"

#include "zubreplacefile.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const char kDwordPrefix[] = "dword:";
const char kSzPrefix[] = "sz:";

std::string Trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// The registry the settings replace ignores case in names. Byte by byte: a name read from
// the file may hold a NUL byte, where a C string would end.
bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

std::string EnvOrEmpty(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

enum class EFile
{
    Missing,
    Read,
    Unreadable,
};

// The whole file, when it is a regular file of at most `limit` bytes. Non-blocking, so that
// a FIFO without a writer cannot hang the open.
EFile ReadSmallRegularFile(const std::string& path, long limit, std::string& text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? EFile::Missing : EFile::Unreadable;
    struct stat info {};
    EFile result = EFile::Unreadable;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= limit)
    {
        text.resize(static_cast<size_t>(limit) + 1);  // one more: a file that grew is refused
        size_t size = 0;
        ssize_t got = 1;
        while (size < text.size() && got != 0)
        {
            got = ::read(fd, &text[size], text.size() - size);
            if (got < 0 && errno != EINTR)
                break;
            size += got > 0 ? static_cast<size_t>(got) : 0;
        }
        if (got >= 0 && size <= static_cast<size_t>(limit))
            result = EFile::Read;
        text.resize(size);
    }
    ::close(fd);
    return result;
}
}  // namespace

std::string CZubProfile::DefaultPath()
{
    const std::string overridden = EnvOrEmpty("ZUB_REGISTRY");
    if (!overridden.empty())
        return overridden;
    std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
    if (config.empty())
    {
        const std::string home = EnvOrEmpty("HOME");
        config = (home.empty() ? std::string(".") : home) + "/.config";
    }
    return config + "/Trelvane/Zub.ini";
}

CZubProfile::CZubProfile(std::string path) : m_path(std::move(path))
{
    Load();
}

void CZubProfile::Load()
{
    std::string text;
    const EFile state = ReadSmallRegularFile(m_path, kMaxFileBytes, text);
    LoadText(state == EFile::Read ? text : std::string());  // a refused file's bytes are no profile
    m_bUnreadable = state == EFile::Unreadable;
}

void CZubProfile::LoadText(const std::string& text)
{
    m_preamble.clear();
    m_sections.clear();
    m_bUnreadable = false;
    Parse(text);
}

void CZubProfile::Parse(const std::string& text)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
    {
        const std::string raw = line;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']')
        {
            m_sections.push_back({trimmed.substr(1, trimmed.size() - 2), {}, raw, true});
            continue;
        }
        if (m_sections.empty())
        {
            m_preamble.push_back(raw);
            continue;
        }
        const size_t eq = line.find('=');
        SLine entry;
        entry.raw = raw;
        entry.bRead = true;
        if (eq != std::string::npos && !Trim(line.substr(0, eq)).empty())
        {
            entry.key = Trim(line.substr(0, eq));
            entry.value = line.substr(eq + 1);
            const size_t b = entry.value.find_first_not_of(" \t");
            entry.value = b == std::string::npos ? std::string() : entry.value.substr(b);
        }
        else
        {
            entry.value = line;  // kept as it stands
        }
        m_sections.back().lines.push_back(std::move(entry));
    }
}

bool CZubProfile::Save() const
{
    namespace fs = std::filesystem;
    std::error_code ec;
    struct stat info {};
    if (m_bUnreadable || (::stat(m_path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)))
        return false;
    const fs::path target(m_path);
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec);

    // Written with its length: lines may hold NUL bytes.
    const std::string text = FormatText();
    CZubReplacingFile file;
    std::string reason;
    return file.Open(m_path, reason) && std::fwrite(text.data(), 1, text.size(), file.Stream()) == text.size() &&
           file.Commit(reason);
}

std::string CZubProfile::FormatText() const
{
    std::string text;
    for (const std::string& line : m_preamble)
        text += line + '\n';
    for (const SSection& section : m_sections)
    {
        text += section.bRead ? section.raw : "[" + section.name + "]";
        text += '\n';
        for (const SLine& line : section.lines)
        {
            if (line.bRead)
                text += line.raw;
            else if (line.key.empty())
                text += line.value;
            else
                text += line.key + "=" + line.value;
            text += '\n';
        }
    }
    return text;
}

const std::string* CZubProfile::FindRaw(const std::string& section, const std::string& key) const
{
    for (const SSection& s : m_sections)
    {
        if (!SameName(s.name, section))
            continue;
        for (const SLine& line : s.lines)
            if (!line.key.empty() && SameName(line.key, key))
                return &line.value;
    }
    return nullptr;
}

void CZubProfile::SetRaw(const std::string& section, const std::string& key, std::string value)
{
    SSection* target = nullptr;
    for (SSection& s : m_sections)
    {
        if (!SameName(s.name, section))
            continue;
        for (SLine& line : s.lines)
        {
            if (!line.key.empty() && SameName(line.key, key))
            {
                line.value = std::move(value);
                line.bRead = false;
                return;
            }
        }
        if (!target)
            target = &s;
    }
    if (!target)
    {
        m_sections.push_back({section, {}, {}, false});
        target = &m_sections.back();
    }
    target->lines.push_back({key, std::move(value), {}, false});
}

CZubProfile::EValue CZubProfile::QueryInt(const std::string& section, const std::string& key,
                                          int& value) const
{
    const std::string* raw = FindRaw(section, key);
    if (!raw)
        return EValue::Missing;
    if (!StartsWith(*raw, kDwordPrefix))
        return EValue::Unreadable;
    const std::string digits = Trim(raw->substr(sizeof(kDwordPrefix) - 1));
    int number = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, err] = std::from_chars(digits.data(), end, number);
    if (digits.empty() || err != std::errc() || ptr != end)
        return EValue::Unreadable;
    value = number;
    return EValue::Read;
}

CZubProfile::EValue CZubProfile::QueryString(const std::string& section, const std::string& key,
                                             std::string& value) const
{
    const std::string* raw = FindRaw(section, key);
    if (!raw)
        return EValue::Missing;
    if (!StartsWith(*raw, kSzPrefix))
        return EValue::Unreadable;
    value = raw->substr(sizeof(kSzPrefix) - 1);
    return EValue::Read;
}

int CZubProfile::GetProfileInt(const std::string& section, const std::string& key,
                               int nDefault) const
{
    int value = nDefault;
    QueryInt(section, key, value);
    return value;
}

std::string CZubProfile::GetProfileString(const std::string& section, const std::string& key,
                                          const std::string& sDefault) const
{
    std::string value = sDefault;
    QueryString(section, key, value);
    return value;
}

void CZubProfile::WriteProfileInt(const std::string& section, const std::string& key, int nValue)
{
    SetRaw(section, key, kDwordPrefix + std::to_string(nValue));
}

void CZubProfile::WriteProfileString(const std::string& section, const std::string& key,
                                     const std::string& sValue)
{
    // A line break would end the value early; the rest would become a stray line.
    std::string value = sValue;
    for (char& c : value)
        if (c == '\n' || c == '\r')
            c = ' ';
    SetRaw(section, key, kSzPrefix + value);
}
