// The recent-files list kept in the settings file: section "Recent File List", keys "File1"
// (the most recent) to "File4", no duplicates.
#pragma once

#include "zubprofile.h"

#include <string>
#include <vector>

class CZubRecentFiles
{
public:
    static constexpr const char* kSection = "Recent File List";
    static constexpr int kMaxFiles = 4;

    // Reads the list from the profile (empty entries and repeats skipped).
    void Load(const CZubProfile& profile);
    // Writes the list into the profile (keys past the list's end are emptied) and saves it.
    bool Save(CZubProfile& profile) const;

    // Puts the path first, removing an earlier entry of it and the oldest beyond four.
    void Add(const std::string& path);
    // Drops the path (a file that no longer opens).
    void Remove(const std::string& path);

    const std::vector<std::string>& Files() const { return m_files; }
    // The path of entry index (0-based), or empty.
    std::string At(int index) const;

private:
    std::vector<std::string> m_files;
};
