// What the parameter, results and data-frames dialogs decide without a window: the integer
// boxes, the limits checked when the focus leaves a box, the enabling rules, and the frame
// arithmetic of the results strip.
#pragma once

#include <string>
#include <vector>

struct SZubParams;
class CZubImpact;

// ---- Parameter dialogs -----------------------------------------------------------------------

// An integer as a box holds it: blanks around an optional sign and decimal digits, within 32
// bits. False for anything else, an empty box included.
bool ZubParseDialogInt(const std::string& text, int& value);
// A spin button press: value moved by steps x step, kept within lo .. hi.
int ZubSpinStep(int value, int steps, int step, int lo, int hi);

// Checks made when the focus leaves a box: the message to show, with the value limited, or
// null when the value stands.
const char* ZubLimitDarkFrames(int& value);
const char* ZubLimitListSize(int& value);
const char* ZubCheckFactorBright(double factor);
const char* ZubCheckFactorSize(double factor);
// "OK" of the search parameters limits the list size without a word.
int ZubListSizeAtOk(int value);

struct SZubOptionsEnabling
{
    bool bAutoRoi = false;    // "Number of frames:", the two factors, "Filter planet:"
    bool bManualRoi = false;  // "Width:", "Height:"
    bool bDarkFrames = false;
    bool bSimulateOptions = false;
};
SZubOptionsEnabling ZubOptionsEnabling(bool bRoiAutomatic, bool bDarkAllFrames, bool bSimulation);

struct SZubTestEnabling
{
    bool bProcessFrames = false;
    bool bFrameNumber = false;
    bool bLogFile = false;   // file name, flush, reset, details, range switch
    bool bLogRange = false;  // "Frames from:", "to:", the CSV dump
};
SZubTestEnabling ZubTestEnabling(bool bLimitFrames, bool bIntermediateFrames, bool bLogProcess,
                                 bool bLogDetailsFrames);

// The log file name box may not be left empty while the log file is on.
const char* ZubCheckLogFilename(const std::string& name, bool bLogProcess);
// The open log file must be closed so that the next line goes to the file now chosen.
bool ZubLogFileChanged(const SZubParams& before, const SZubParams& after);

// ---- Results dialog ------------------------------------------------------------------------

constexpr int kZubStripThumbnails = 15;
// 0-based frame index that thumbnail i of a strip centred on frame `center` (1-based) shows,
// or -1 when it lies outside the nFrames frames (the thumbnail stays white).
int ZubStripFrameIndex(int center, int thumbnail, int nFrames);
// Frames a candidate slot can show: the processed frames its arrays cover.
int ZubSlotFrames(const CZubImpact& impact, int nProcessed);
// Previous and next candidate, wrapping around.
int ZubPreviousCandidate(int index, int count);
int ZubNextCandidate(int index, int count);
// The photometric value of every processed frame; 0 where the slot holds none.
std::vector<int> ZubProfileSeries(const CZubImpact& impact, int nProcessed);
// The series at `columns` points across a plot. With more values than columns, each column
// shows, of the values it covers, the one farthest from the series' median, so that a flash
// of any length is drawn; otherwise column i shows value i * count / columns.
std::vector<int> ZubProfileColumns(const std::vector<int>& series, int columns);
// The selector's entry: "%02i-%s", 1-based.
std::string ZubCandidateEntry(int index, const CZubImpact& impact);
