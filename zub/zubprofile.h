// The user's settings store: a typed INI file with the hierarchy company/application/
// section/key. Reading tolerates anything; writing is atomic and keeps what it does not know.
#pragma once

#include <string>
#include <utility>
#include <vector>

class CZubProfile
{
public:
    // $ZUB_REGISTRY, else $XDG_CONFIG_HOME/Trelvane/Zub.ini, else ~/.config/Trelvane/Zub.ini.
    static std::string DefaultPath();

    // Settings files are small; anything larger is not one.
    static constexpr long kMaxFileBytes = 1 << 20;

    // How a value reads: absent, read, or present but not readable as the type asked.
    enum class EValue
    {
        Missing,
        Read,
        Unreadable,
    };

    explicit CZubProfile(std::string path = DefaultPath());

    const std::string& GetPath() const { return m_path; }

    // (Re)reads the file; a missing or unreadable file is an empty profile. Only a regular
    // file of at most kMaxFileBytes is read, so a device or a FIFO cannot hang the reader.
    void Load();
    // Replaces the profile by the one `text` holds, as Load does with the file's bytes.
    void LoadText(const std::string& text);
    // The file Save writes: kept lines byte for byte, changed and new ones as key=value.
    std::string FormatText() const;
    // The last Load found a file it could not read.
    bool IsUnreadable() const { return m_bUnreadable; }
    // Writes the whole profile atomically (temporary file, then rename). False on failure,
    // and without touching it when the file the last Load met could not be read or the
    // path is not a regular file: what cannot be read is not replaced.
    bool Save() const;

    // A missing key, a value of another type or a number out of 32 bits gives the default.
    int GetProfileInt(const std::string& section, const std::string& key, int nDefault) const;
    std::string GetProfileString(const std::string& section, const std::string& key,
                                 const std::string& sDefault) const;
    // The same, telling a missing key from a value that cannot be read; `value` is set
    // only when read.
    EValue QueryInt(const std::string& section, const std::string& key, int& value) const;
    EValue QueryString(const std::string& section, const std::string& key, std::string& value) const;
    // Change the loaded profile; Save() makes it permanent.
    void WriteProfileInt(const std::string& section, const std::string& key, int nValue);
    void WriteProfileString(const std::string& section, const std::string& key,
                            const std::string& sValue);

private:
    // Lines read from the file keep their bytes (NUL bytes, CR, invalid UTF-8 and all) and
    // are written back as they came unless this program changes them: a line shortened or
    // re-spelt could parse as something else, a section header for one.
    struct SLine
    {
        std::string key;  // empty: a line kept verbatim (comment, blank, unparsed)
        std::string value;  // "dword:<n>" or "sz:<text>" as stored
        std::string raw;  // the line as read, without its '\n'
        bool bRead = false;  // raw still stands for key and value
    };
    struct SSection
    {
        std::string name;
        std::vector<SLine> lines;
        std::string raw;  // the header as read
        bool bRead = false;
    };

    const std::string* FindRaw(const std::string& section, const std::string& key) const;
    void SetRaw(const std::string& section, const std::string& key, std::string value);
    void Parse(const std::string& text);

    std::string m_path;
    bool m_bUnreadable = false;
    std::vector<std::string> m_preamble;  // lines before the first section
    std::vector<SSection> m_sections;
};
