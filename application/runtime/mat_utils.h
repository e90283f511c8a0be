#pragma once

#include <functional>
#include <memory>

#include <opencv2/core.hpp>

#include <gstreamermm/sample.h>

// Images travel as shared matrices, samples as GStreamer references.
using MatrixPtr = std::shared_ptr<cv::Mat>;
using SamplePtr = Glib::RefPtr<Gst::Sample>;

// Builds a matrix header of the caller's type over a frame's pixels: (width, height, first pixel).
using MatrixFactory = std::function<cv::Mat(int width, int height, unsigned char* data)>;

// A matrix over the sample's pixels, without copying them. The factory decides the matrix type;
// for raw video the header's row step is the frame's real row stride (rows are padded, e.g. to
// 4 bytes), so the returned matrix may be non-continuous. The sample's buffer stays mapped and
// referenced until the last copy of the returned pointer is gone.
// Throws std::runtime_error: "Unable to get sample buffer", "Empty caps!",
// "Unable to get sample width or height", "Unable to map sample buffer", or
// "Sample buffer is smaller than its caps describe".
MatrixPtr CreateMatrixFromGstBuffer(const SamplePtr& sample, const MatrixFactory& factory);

// A new shared header equal to `mat`; the pixels are shared, not copied.
MatrixPtr WrapMatrix(cv::Mat mat);

// The same, and the result keeps `owner` alive as long as any copy of it exists.
MatrixPtr WrapMatrix(cv::Mat mat, MatrixPtr owner);
