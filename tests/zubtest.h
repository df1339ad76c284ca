// Helpers shared by the core tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The temporary folder the test process runs in (also its working directory).
const std::string& ZubTestDir();
// A file of the real recordings beside the checkout (../shared/data/NAME).
std::string ZubSharedData(const std::string& name);
bool ZubFileExists(const std::string& path);
std::vector<uint8_t> ZubReadFile(const std::string& path);
std::string ZubReadText(const std::string& path);
void ZubWriteFile(const std::string& path, const void* data, size_t size);
void ZubWriteText(const std::string& path, const std::string& text);
// Parameters at their first-start defaults, log lines captured, no log file.
void ZubResetApp();
