#pragma once

#include <algorithm>
#include <cstddef>

#include "CommonUtilities/algorithm_support/mem_manager.h"

// An image of one value per pixel (marks, labels), row after row with the stride equal to the width.
template <typename T>
struct CGrayImage {
    using Allocator = AlgoLibrary::MemManager::Allocator<T, AlgoLibrary::MemManager::TMemoryManager<false>>;

    CGrayImage() = default;
    explicit CGrayImage(const AlgoLibrary::MemManager::MemoryManager& manager) : pixels(Allocator(manager)) {}

    // Sizes the image to width x height and sets every pixel to value.
    void Resize(int w, int h, T value = T())
    {
        width = std::max(w, 0);
        height = std::max(h, 0);
        pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), value);
    }

    void Fill(T value) { std::fill(pixels.begin(), pixels.end(), value); }

    T* Row(int y) { return pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width); }
    const T* Row(int y) const { return pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width); }

    T& At(int x, int y) { return Row(y)[x]; }
    const T& At(int x, int y) const { return Row(y)[x]; }

    int width = 0;
    int height = 0;
    avector<T> pixels;
};
