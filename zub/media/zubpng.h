// PNG files through FFmpeg's encoder, for the pictures zubcli writes.
#pragma once

#include <cstdint>
#include <string>

// Writes width x height pixels, rows top first, packed: one byte per pixel (gray, channels
// 1) or three (red, green, blue, channels 3). False with the reason when it cannot.
bool ZubWritePng(const std::string& path, const uint8_t* pixels, int width, int height, int channels,
                 std::string& error);
