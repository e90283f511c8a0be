#pragma once

#include <cstdint>
#include <opencv2/core.hpp>

// Vectorised row kernels of the masks and binarisations of the height-map stages. Each returns how
// many leading elements of the row it handled (a multiple of its vector width; 0 without vector
// support or when AlgoLibrary::ActiveKernelPath() is the scalar one); the caller finishes the row
// with the scalar operation, which gives the same values.
namespace mask_rows_simd {

// dst := src >= threshold ? 255 : 0.
int BinarizeGreaterOrEqualRow(const uchar* src, uchar threshold, uchar* dst, int cols);
// dst := src <= threshold ? 255 : 0.
int BinarizeLessOrEqualRow(const uchar* src, uchar threshold, uchar* dst, int cols);
int BinarizeLessOrEqualRow(const short* src, short threshold, uchar* dst, int cols);
// image := value where mask is not 0; the other pixels are added to sum and counted.
int SetMaskedRow(const uchar* mask, uchar value, uchar* image, int cols, uint64_t& sum, uint64_t& count);
// out := cleaned == out ? min(255, heights + 1) : 0.
int KeepAgreeingHeightsRow(const uchar* heights, const uchar* cleaned, uchar* out, int cols);

}  // namespace mask_rows_simd
