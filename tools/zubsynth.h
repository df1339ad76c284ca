// Synthetic planetary videos for tests and benchmarks: an oblate banded disc with limb
// darkening on a dark sky, slow drift and per-frame jitter, Gaussian noise, optional flashes
// and, on request, what real captures carry: hot pixels, cosmic rays, clouds, moons and
// their shadows, a turning surface, rings, a raw Bayer mosaic. Deterministic from the seed.
// Written as SER directly, or as AVI, MPEG and WMV through the `ffmpeg` program.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

struct SZubSynthFlash
{
    int iFrame = 0;       // first frame of the flash, 1-based; 0: no flash
    int iDuration = 3;    // frames
    double dx = 0.0;      // position relative to the disc centre, pixels
    double dy = 0.0;
    double peak = 120.0;  // added brightness at the spot's centre (8-bit scale)
    double sigma = 1.2;   // spot radius (Gaussian sigma), pixels
};

// A dip of transparency (a cloud): the whole picture, disc and sky, is dimmed by up to
// `depth` (0.15: 15 %) with a smooth rise and fall over its frames.
struct SZubSynthCloud
{
    int iFrame = 0;     // first frame, 1-based
    int iDuration = 0;  // frames
    double depth = 0.0;
};

// A small disc crossing the planet on a straight line, relative to the disc centre: a moon
// that shows `brightness` (8-bit scale, sky included) in place of what it covers or, with a
// negative brightness, a shadow that darkens the planet under it by that many gray levels.
struct SZubSynthMoon
{
    int iFrame = 0;     // first frame on its path, 1-based
    int iDuration = 0;  // frames from the start to the end of the path
    double x0 = 0.0, y0 = 0.0;  // start, from the disc centre, pixels
    double x1 = 0.0, y1 = 0.0;  // end
    double radius = 3.0;
    double brightness = 230.0;
};

struct SZubSynthOptions
{
    int iWidth = 640;
    int iHeight = 480;
    int iFrames = 300;
    int iDepth = 8;         // bits per sample: 8, or 9 to 16 (two bytes, LSB-aligned)
    bool bColor = false;    // three planes, RGB order (ColorID 100)
    uint64_t seed = 1;

    double radius = 0.0;    // equatorial radius in pixels; 0: 30 % of the smaller side
    double oblateness = 0.935;
    double discBrightness = 200.0;
    double limbDarkening = 0.55;
    double sky = 6.0;
    double noise = 2.0;     // Gaussian sigma of the per-pixel noise
    double driftX = 0.02;   // pixels per frame
    double driftY = 0.01;
    double jitter = 0.8;    // Gaussian sigma of the per-frame shift (seeing)

    // Where the disc starts, pixels from the frame's top left; NaN: the frame's centre.
    // A centre near an edge puts the planet partly outside the frame.
    double startX = std::numeric_limits<double>::quiet_NaN();
    double startY = std::numeric_limits<double>::quiet_NaN();

    SZubSynthFlash flash;
    std::vector<SZubSynthFlash> moreFlashes;  // further flashes, each drawn as `flash`

    // What real captures carry. All deterministic from the seed; none by default.
    int iHotPixels = 0;          // hot, warm and stuck pixels, fixed on the sensor
    double cosmicRate = 0.0;     // cosmic-ray hits per frame (one frame each, 1-3 pixels)
    std::vector<SZubSynthCloud> clouds;
    std::vector<SZubSynthMoon> moons;  // moons and shadows
    double rotation = 0.0;       // surface drift along the equator at the centre, px per frame
                                 // (ovals and festoons that rotate; 0: a surface of bands only)
    bool bRings = false;         // a ring system around the disc, tilted, passing in front of it
    bool bBayer = false;         // raw Bayer RGGB mosaic, one sample per pixel (SER colour id 8)

    bool bTimeStamps = true;  // trailer of per-frame UTC times
    double fps = 30.0;
    int64_t startUnixSeconds = 1569729600;  // 2019-09-29 04:00:00 UTC

    // Bottom row first. A raw AVI stores its rows bottom-up, so an AVI written from flipped
    // frames decodes to bottom-up buffers whose rows are the unflipped SER's top-down rows.
    bool bFlipVertical = false;
};

enum class EZubSynthCodec
{
    RawBgr24,  // AVI, uncompressed 24-bit
    RawGray,   // AVI, uncompressed 8-bit gray (Y800)
    Mjpeg,     // AVI, motion JPEG
    Mpeg1,     // MPEG-1 program stream
    Mpeg2,     // MPEG-2 program stream; an elementary stream when the path ends in ".m2v"
    Wmv,       // Windows Media Video 8 in ASF
};

// The disc centre of a frame (1-based), after drift and jitter.
void ZubSynthCentre(const SZubSynthOptions& options, int frame, double& x, double& y);

// Writes the SER file. Returns false (with a reason in `error`) when it cannot be written.
bool ZubSynthWriteSer(const SZubSynthOptions& options, const std::string& path, std::string& error);

// Writes the video through the `ffmpeg` program found on the PATH, at the rate options.fps
// (MPEG: the nearest standard rate). Videos are 8 bits per sample. Returns false (with a
// reason in `error`) when the options do not fit, ffmpeg cannot be started or it fails.
bool ZubSynthWriteVideo(const SZubSynthOptions& options, const std::string& path, EZubSynthCodec codec,
                        std::string& error);
