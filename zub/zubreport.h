// A night's report: what each video covered, how faint a flash it could still have shown,
// and its candidates with their evidence, as one page (index.html) and its pictures in one
// folder, with nothing from outside it, so that it can be opened, printed and sent as it is.
// Videos searched with nothing found are listed too: they are the null results.
#pragma once

#include "zubpictures.h"
#include "zubspotdetector.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CZubDoc;
class CZubImpact;

// The time a video covers: from the SER time stamps, else its length from the frame rate and
// its start from the container's creation time, if it has one.
struct SZubTimeCovered
{
    std::string start;  // "YYYY-MM-DD HH:MM:SS.mmm" UTC; empty when unknown
    std::string end;
    double seconds = -1.0;  // negative when unknown
    std::string source = "unknown";  // "time stamps", "frame rate", "creation time[, frame rate]"
    int64_t framesSearched = 0;
};
SZubTimeCovered ZubTimeCovered(const CZubDoc& doc);
// "2019-09-29 04:00:01.000 to 04:00:04.000 UTC, 3.0 s (time stamps), 90 frames searched"
std::string ZubTimeCoveredText(const SZubTimeCovered& time);
// "640 x 480, 2000 frames, 30 fps, SER 8-bit mono"
std::string ZubVideoFacts(const CZubDoc& doc);
// The run's limit at the current threshold; unknown when the second detector did not run.
SZubDetectionLimit ZubDocDetectionLimit(const CZubDoc& doc);
// The brightness increase of a listed detection over its frame's level, gray levels.
int ZubDetectionIncrease(const CZubDoc& doc, const CZubImpact& impact);

// Writes a picture as PNG (the front end's own encoder).
using ZubPngWriter = std::function<bool(const std::string& path, const SZubPicture& picture, std::string& error)>;

// One video's part of the report.
struct SZubReportVideo
{
    std::string name;     // the video's file name
    std::string failure;  // why it was not searched; empty when it was
    std::string facts;
    std::string time;
    std::string limit;
    double seconds = 0.0;  // covered, 0 when unknown
    int64_t frames = 0;    // searched
    int candidates = 0;
    std::string html;  // the section of a video with candidates
};

// The part of a searched video, its pictures written into `folder` under names that start
// with the video's file name; false with the reason when a picture could not be written.
bool ZubReportVideo(const CZubDoc& doc, const std::string& folder, const ZubPngWriter& writePng,
                    SZubReportVideo& part, std::string& error);
// A video searched in a process of its own hands its part over in a hidden file of the
// report's folder, named after the video's file name. Taking it removes the file; a part
// that is not there (its process ended abnormally) says the run did not complete.
bool ZubSaveReportPart(const std::string& folder, const SZubReportVideo& part, std::string& error);
SZubReportVideo ZubTakeReportPart(const std::string& folder, const std::string& name);
// The page for the videos in the order given.
std::string ZubReportPage(const std::vector<SZubReportVideo>& videos);
// Writes folder/index.html whole or not at all; false with the reason.
bool ZubWriteReportPage(const std::string& folder, const std::vector<SZubReportVideo>& videos, std::string& error);
