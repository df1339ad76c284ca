// What the main window shows and decides that needs no window: its title, the texts of
// the recent-file entries and how a file chosen in the open dialog is read.
#pragma once

#include <string>

// "Zub" before a file is open, else the document's name (the path's last part) and " - Zub".
std::string ZubMainFrameTitle(const std::string& documentTitle);
// The menu text of recent-file entry `index` (0-based): its number as the access key, then
// the path with every "&" doubled so that it shows as written.
std::string ZubRecentFileMenuText(int index, const std::string& path);
// The open dialog reads with the SER reader exactly when the chosen name's extension (after
// its last dot) is "ser", compared case-sensitively.
bool ZubHasSerExtension(const std::string& fileName);
