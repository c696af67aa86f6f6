#pragma once

#include <cstdint>
#include <vector>

// One frame of the desk scene as a camera would deliver it: Motion-JPEG
// bytes, or packed YUYV 4:2:2 with the limited-range BT.601 matrix.
std::vector<uint8_t> encodeDeskFrame(uint32_t pixelFormat, int width, int height, unsigned seed);
