// The pictures of a run that an observer looks at and sends with a report: the mean frame,
// the mask and the detection image (for every ROI pixel the largest normalised difference
// of the run, each candidate circled and numbered as listed). Upright whatever the source's
// row order, 8 bits per sample.
#pragma once

#include "zubtypes.h"

#include <cstdint>
#include <vector>

class CZubDoc;
class CZubFrame;
class CZubImpact;

struct SZubPicture
{
    int iWidth = 0;
    int iHeight = 0;
    int iChannels = 1;  // 1 gray, 3 red, green, blue
    std::vector<uint8_t> pixels;  // rows top first, packed

    bool Empty() const { return pixels.empty(); }
};

// Empty when the run did not get that far (or the second detector is off).
SZubPicture ZubMeanPicture(const CZubDoc& doc);
SZubPicture ZubMaskPicture(const CZubDoc& doc);
SZubPicture ZubDetectionPicture(const CZubDoc& doc);

// For a report: the candidate's strip of thumbnails around its frame (enlarged, the frame
// numbers under them, its own frame outlined) and its light curve (frame axis, the flash
// marked).
SZubPicture ZubStripPicture(const CZubDoc& doc, const CZubImpact& impact);
SZubPicture ZubCurvePicture(const CZubDoc& doc, const CZubImpact& impact);

// The picture as a 24-bit frame, rows top first; false (and an empty frame) for an empty picture.
bool ZubPictureToFrame(const SZubPicture& picture, CZubFrame& frame);

// The candidate's position from the planet's centre as the picture is read: x to the right,
// y downward, whatever the source's row order. What every front end shows and prints.
SZubPoint ZubPicturePosition(const CZubDoc& doc, const CZubImpact& impact);
// The planet's centre of mass in a frame (coordinates as stored; negative: none) as the
// picture is read, truncated as in a top-down frame whatever the row order.
SZubPoint ZubPictureCentre(const CZubDoc& doc, SZubPoint centre);
