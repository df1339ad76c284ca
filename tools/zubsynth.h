// Synthetic planetary videos for tests and benchmarks: an oblate banded disc with limb
// darkening on a dark sky, slow drift and per-frame jitter, Gaussian noise and an optional
// flash. Deterministic from the seed. Written as SER directly, or as AVI, MPEG and WMV
// through the `ffmpeg` program.
#pragma once

#include <cstdint>
#include <string>

struct SZubSynthFlash
{
    int iFrame = 0;       // first frame of the flash, 1-based; 0: no flash
    int iDuration = 3;    // frames
    double dx = 0.0;      // position relative to the disc centre, pixels
    double dy = 0.0;
    double peak = 120.0;  // added brightness at the spot's centre (8-bit scale)
    double sigma = 1.2;   // spot radius (Gaussian sigma), pixels
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

    SZubSynthFlash flash;

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
