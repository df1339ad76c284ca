// Where the second detector looks. The crop is copied with a border, so that the filter
// reaches the disc's limb even in a tight ROI; defects fixed on the sensor (hot, warm and
// stuck pixels) are learnt from the frames themselves and repaired in it; and the search
// keeps to the mean frame's disc, less a couple of pixels at the limb, where every crop so
// far lay inside its frame.
#pragma once

#include "zubspotfilter.h"
#include "zubtypes.h"

#include <vector>

class CZubFrame;

// A frame's ROI crop with a border of replicated edge pixels on every side.
class CZubSpotCrop
{
public:
    static constexpr int kBorder = 12;

    void Copy(const CZubFrame& roi);
    int Width() const { return m_iWidth; }
    int Height() const { return m_iHeight; }
    std::ptrdiff_t Stride() const { return m_iWidth + 2 * kBorder; }
    // Pixel (0, 0) of the crop; rows and columns down to -kBorder exist.
    uint8_t* Origin() { return m_pixels.data() + kBorder * Stride() + kBorder; }
    const uint8_t* Origin() const { return m_pixels.data() + kBorder * Stride() + kBorder; }

private:
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::vector<uint8_t> m_pixels;
};

// Pixels that stand out alone, by a hot pixel's shape, in a few frames at one place on the
// sensor are defects: the planet moves under them, so no feature of it stays there; they are
// repaired in every frame from then on. A flash (a seeing-sized spot) never has that shape;
// a cosmic ray has it, in one frame: lone pixels are repaired in the frame they are seen.
class CZubSensorDefects
{
public:
    static constexpr int kHitsForDefect = 3;

    void Start(SZubSize frame);
    // Counts the crop's lone pixels at their places on the sensor (the crop's pixel (0, 0) is
    // sensor pixel `origin`), then repairs them and every known defect in the crop.
    void LearnAndRepair(CZubSpotCrop& crop, SZubPoint origin);
    size_t Count() const { return m_defects.size(); }

private:
    struct SInside
    {
        int x0, x1, y0, y1;
    };
    void SetThreshold(const CZubSpotCrop& crop, const SInside& inside);
    void Learn(const CZubSpotCrop& crop, const SInside& inside, SZubPoint origin);
    static void Repair(CZubSpotCrop& crop, SZubPoint origin, const std::vector<SZubPoint>& pixels);

    SZubSize m_frame;
    int m_iThreshold = 0;            // gray levels above the neighbours; 0 until measured
    std::vector<uint8_t> m_hits;     // frame sized
    std::vector<SZubPoint> m_defects;  // sensor coordinates
    std::vector<SZubPoint> m_lone;     // this frame's lone pixels
    std::vector<uint8_t> m_flags;    // one crop row
};

// The grid points to search and to fit the model on.
class CZubSearchArea
{
public:
    static constexpr int kLimbMargin = 2;  // pixels left out inside the limb

    // A new run's ROI: everything inside the frames so far.
    void Start(int width, int height);
    // The disc from the mean of the ROI crops (`sums` over `frames` crops, ROI sized).
    void Build(const std::vector<uint32_t>& sums, int frames);
    // Notes where a crop lay in its frame; true when the part inside every frame shrank.
    bool AddCrop(SZubPoint origin, SZubSize frame);
    // 1 at the searched grid points, else 0; false when nothing is searched.
    bool Weights(const SZubGrid& grid, std::vector<float>& weights) const;
    const std::vector<uint8_t>& Disc() const { return m_disc; }
    // The whole disc of the mean frame (limb included): its pixels, its mean brightness and
    // its light above the sky's level (gray levels, summed).
    struct SDisc
    {
        size_t pixels = 0;
        double mean = 0.0;
        double light = 0.0;
    };
    const SDisc& WholeDisc() const { return m_whole; }

private:
    void MeasureDisc(const CZubFrame& mean, const CZubFrame& disc);

    int m_iWidth = 0;
    int m_iHeight = 0;
    std::vector<uint8_t> m_disc;  // ROI sized, 1 on the searched disc
    SDisc m_whole;
    // The part of the ROI inside the frame in every crop so far: [x0, x1) x [y0, y1).
    int m_x0 = 0, m_y0 = 0, m_x1 = 0, m_y1 = 0;
};
