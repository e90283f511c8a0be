#include "PeopleCounter/analytics/traffic_controller/src/primitives/perspective_filter.h"

#include <cmath>
#include <cstddef>

namespace AlgoLibrary {
namespace Gauss {

template <typename T>
bool GaussSolve(const T* a, int n, T* x, const T* b, T* work)
{
    if (n < 1)
        return true;
    const std::size_t size = static_cast<std::size_t>(n);
    T* m = work;                      // the copy of A, reduced to a permutation matrix
    T* inverse = work + size * size;  // the identity, turned into the row operations
    for (std::size_t i = 0; i < size * size; ++i) {
        m[i] = a[i];
        inverse[i] = T(0);
    }
    for (std::size_t i = 0; i < size; ++i) inverse[i * size + i] = T(1);

    const T smallest = static_cast<T>(8.271806e-25);  // 2^-80
    for (std::size_t i = 0; i < size; ++i) {
        T* row = m + i * size;
        T* inv_row = inverse + i * size;
        std::size_t pivot_col = 0;
        T pivot_magnitude = T(-1);
        for (std::size_t j = 0; j < size; ++j) {
            const T magnitude = std::fabs(row[j]);
            if (magnitude >= pivot_magnitude) {
                pivot_magnitude = magnitude;
                pivot_col = j;
            }
        }
        // Written so that a NaN pivot fails too.
        if (!(pivot_magnitude >= smallest))
            return false;
        const T pivot = row[pivot_col];
        for (std::size_t j = 0; j < size; ++j) {
            row[j] /= pivot;
            inv_row[j] /= pivot;
        }
        for (std::size_t r = 0; r < size; ++r) {
            if (r == i)
                continue;
            T* other = m + r * size;
            T* inv_other = inverse + r * size;
            const T factor = other[pivot_col];
            if (factor == T(0))
                continue;
            for (std::size_t j = 0; j < size; ++j) {
                other[j] -= factor * row[j];
                inv_other[j] -= factor * inv_row[j];
            }
        }
    }
    // Row k of the inverse of A is the row of operations whose unit lies in column k.
    for (std::size_t k = 0; k < size; ++k) {
        std::size_t source = size;
        for (std::size_t r = 0; r < size; ++r) {
            if (m[r * size + k] > T(0.5)) {
                source = r;
                break;
            }
        }
        if (source == size)
            return false;
        T sum = T(0);
        for (std::size_t j = 0; j < size; ++j) sum += inverse[source * size + j] * b[j];
        x[k] = sum;
    }
    return true;
}

template bool GaussSolve<float>(const float*, int, float*, const float*, float*);

}  // namespace Gauss
}  // namespace AlgoLibrary
