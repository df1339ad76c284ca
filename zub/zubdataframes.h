// The per-frame records as text: the lines of the data-frames window and its
// semicolon-separated export. One formatter for the window and the command line.
#pragma once

#include "zubcandidate.h"

#include <cstdint>
#include <string>
#include <vector>

// "Candidate: Detected", "Candidate: Cleared", "Candidate: " or "".
std::string ZubFramesListState(const CZubCandidate& record);
// The window's line for a record, with its final line feed.
std::string ZubFramesListLine(const CZubCandidate& record);
// Every record's line, or the two "No data." lines without records.
std::vector<std::string> ZubFramesList(const CZubCandidate* records, int64_t count);

std::string ZubFramesCsvHeader();
std::string ZubFramesCsvLine(const CZubCandidate& record);
// Writes the header and a line per record (LF endings), whole or not at all: an earlier file
// stays as it was when the new one cannot be written. False when the file cannot be created
// or written; pError receives the user's message, "Can't open file %s." or "Can't write file
// %s.", and pReason why, in words.
bool ZubWriteFramesCsv(const std::string& path, const CZubCandidate* records, int64_t count,
                       std::string* pError = nullptr, std::string* pReason = nullptr);
