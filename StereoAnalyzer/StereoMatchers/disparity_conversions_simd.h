#pragma once

// Vectorised row kernels of the disparity conversions. Each returns how many leading elements of
// the row it wrote (a multiple of its vector width); the caller converts the rest with the scalar
// operation, which gives the same values. Source and destination rows may be the same memory when
// the element types are equal.
namespace stereo {
namespace conversion_simd {

// dst = x / 2^shift rounded half away from zero, shift in 1..15.
int RescaleRowByRightShift(const short* src, short* dst, int width, int shift);
int RescaleRowByRightShift(const short* src, int* dst, int width, int shift);
// dst = x * multiplier / 2^shift rounded half away from zero, multiplier in 1..32767, shift in 1..15.
int RescaleRowByMultiplyShift(const short* src, int* dst, int width, int multiplier, int shift);
// dst = x * factor in float, for a factor whose products with every short are exact in float.
int ScaleRowToFloat(const short* src, float* dst, int width, float factor);

}  // namespace conversion_simd
}  // namespace stereo
