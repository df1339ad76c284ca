// Start-up of the desktop program in one routine, so that the order holds everywhere: the
// settings first, then the file named on the command line (which then runs with them).
#pragma once

#include <string>

class CZubDoc;

// CZubApp::InitInstance, then the file, when one is named; false when it could not be opened.
bool ZubStartUp(CZubDoc& doc, const std::string& commandLineFile);
