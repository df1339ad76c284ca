#include "zubmainframe.h"

std::string ZubMainFrameTitle(const std::string& documentTitle)
{
    const size_t slash = documentTitle.find_last_of('/');
    const std::string name = slash == std::string::npos ? documentTitle : documentTitle.substr(slash + 1);
    return name.empty() ? "Zub" : name + " - Zub";
}

std::string ZubRecentFileMenuText(int index, const std::string& path)
{
    std::string text = "&";
    text += std::to_string(index + 1);
    text += ' ';
    for (const char c : path)
    {
        text += c;
        if (c == '&')
            text += '&';
    }
    return text;
}

bool ZubHasSerExtension(const std::string& fileName)
{
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    return fileName.compare(dot + 1, std::string::npos, "ser") == 0;
}
