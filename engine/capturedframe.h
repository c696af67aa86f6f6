#pragma once

#include <opencv2/core.hpp>

#include <QtGlobal>

// One frame as the camera gave it: the camera's own JPEG bytes (a
// Motion-JPEG camera read without conversion), or 8-bit BGR pixels (any other
// source). Copies share the data; the capture loop never writes into data
// that a copy still holds.
struct CapturedFrame {
    // The JPEG bytes as one row of CV_8UC1, or the BGR pixels.
    cv::Mat data;
    bool jpeg = false;
    // The picture's full size (for JPEG bytes, from their header).
    cv::Size size;
    // The camera generation the frame was read under: a frame read before
    // the user closed or changed the camera belongs to an older one.
    quint64 generation = 0;

    bool empty() const { return data.empty() || size.empty(); }
    // The whole picture as 8-bit BGR: the pixels, or the bytes decoded at full size.
    cv::Mat decoded() const;
    // The picture at 1/factor of its size (factor 1, 2, 4 or 8): JPEG bytes
    // are decoded at that scale directly; pixels are returned whole.
    cv::Mat decoded(int factor) const;
};
