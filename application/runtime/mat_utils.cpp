#include "application/runtime/mat_utils.h"

#include <cstddef>
#include <stdexcept>
#include <utility>

#include <gst/gst.h>
#include <gst/video/video.h>

#include "application/runtime/buffer_wrapper.h"

namespace {

// A matrix header together with the mapping of the buffer it points into; the header goes first,
// then the buffer is unmapped and unreferenced.
struct MappedMatrix {
    explicit MappedMatrix(GstBuffer* buffer) : mapping(buffer) {}

    GstBufferMapping mapping;
    cv::Mat mat;
};

// Where the first plane's rows start and how far apart they are, when the frame is raw video.
struct RowLayout {
    std::size_t offset = 0;
    std::size_t stride = 0;  // 0: unknown, the factory's row step is used
};

RowLayout GetRowLayout(GstBuffer* buffer, GstCaps* caps)
{
    RowLayout layout;
    if (const GstVideoMeta* meta = gst_buffer_get_video_meta(buffer)) {
        if (meta->stride[0] > 0) {
            layout.offset = meta->offset[0];
            layout.stride = static_cast<std::size_t>(meta->stride[0]);
        }
        return layout;
    }
    GstVideoInfo info;
    gst_video_info_init(&info);
    if (gst_video_info_from_caps(&info, caps) && GST_VIDEO_INFO_PLANE_STRIDE(&info, 0) > 0) {
        layout.offset = GST_VIDEO_INFO_PLANE_OFFSET(&info, 0);
        layout.stride = static_cast<std::size_t>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
    }
    return layout;
}

[[noreturn]] void ThrowTooSmall()
{
    throw std::runtime_error("Sample buffer is smaller than its caps describe");
}

}  // namespace

MatrixPtr CreateMatrixFromGstBuffer(const SamplePtr& sample, const MatrixFactory& factory)
{
    GstBuffer* buffer = sample ? gst_sample_get_buffer(sample->gobj()) : nullptr;
    if (!buffer)
        throw std::runtime_error("Unable to get sample buffer");

    GstCaps* caps = gst_sample_get_caps(sample->gobj());
    if (!caps)
        throw std::runtime_error("Empty caps!");

    int width = 0;
    int height = 0;
    const GstStructure* structure = gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
    if (!structure || !gst_structure_get_int(structure, "width", &width) ||
        !gst_structure_get_int(structure, "height", &height) || width <= 0 || height <= 0)
        throw std::runtime_error("Unable to get sample width or height");

    const RowLayout layout = GetRowLayout(buffer, caps);
    auto mapped = std::make_shared<MappedMatrix>(buffer);
    const std::size_t mapped_size = mapped->mapping.GetSize();
    if (layout.offset >= mapped_size)
        ThrowTooSmall();
    unsigned char* first_pixel = mapped->mapping.GetData() + layout.offset;

    cv::Mat header = factory(width, height, first_pixel);
    if (header.empty())
        return MatrixPtr(mapped, &mapped->mat);
    if (layout.stride != 0 && header.step[0] != layout.stride) {
        // The factory assumed rows stored back to back; use the frame's real row step.
        if (header.cols * header.elemSize() > layout.stride)
            ThrowTooSmall();
        header = cv::Mat(header.rows, header.cols, header.type(), header.data, layout.stride);
    }
    const std::size_t last_row_end = static_cast<std::size_t>(header.data - mapped->mapping.GetData()) +
                                     (header.rows - 1) * header.step[0] + header.cols * header.elemSize();
    if (header.data < mapped->mapping.GetData() || last_row_end > mapped_size)
        ThrowTooSmall();

    mapped->mat = header;
    return MatrixPtr(mapped, &mapped->mat);
}

MatrixPtr WrapMatrix(cv::Mat mat)
{
    return std::make_shared<cv::Mat>(std::move(mat));
}

MatrixPtr WrapMatrix(cv::Mat mat, MatrixPtr owner)
{
    struct OwnedMatrix {
        MatrixPtr owner;
        cv::Mat mat;
    };
    auto holder = std::make_shared<OwnedMatrix>(OwnedMatrix{std::move(owner), std::move(mat)});
    return MatrixPtr(holder, &holder->mat);
}
