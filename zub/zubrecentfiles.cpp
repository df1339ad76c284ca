#include "zubrecentfiles.h"

#include <algorithm>

namespace
{
std::string KeyOf(int index)
{
    return "File" + std::to_string(index + 1);
}
}  // namespace

void CZubRecentFiles::Load(const CZubProfile& profile)
{
    m_files.clear();
    for (int i = 0; i < kMaxFiles; ++i)
    {
        const std::string path = profile.GetProfileString(kSection, KeyOf(i), "");
        if (!path.empty() && std::find(m_files.begin(), m_files.end(), path) == m_files.end())
            m_files.push_back(path);
    }
}

bool CZubRecentFiles::Save(CZubProfile& profile) const
{
    for (int i = 0; i < kMaxFiles; ++i)
        profile.WriteProfileString(kSection, KeyOf(i), At(i));
    return profile.Save();
}

void CZubRecentFiles::Add(const std::string& path)
{
    if (path.empty())
        return;
    Remove(path);
    m_files.insert(m_files.begin(), path);
    if (m_files.size() > static_cast<size_t>(kMaxFiles))
        m_files.resize(kMaxFiles);
}

void CZubRecentFiles::Remove(const std::string& path)
{
    m_files.erase(std::remove(m_files.begin(), m_files.end(), path), m_files.end());
}

std::string CZubRecentFiles::At(int index) const
{
    return index >= 0 && index < static_cast<int>(m_files.size()) ? m_files[index] : std::string();
}
