#pragma once

#include <cstdint>
#include <list>
#include <vector>

#include "PeopleCounter/analytics/traffic_controller/src/primitives/gray_image.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/kiv_types.h"

// One horizontal run of pixels: first and last column (inclusive) and the row.
struct SegmentLine {
    int first;
    int last;
    int row;
};

// One labelled region: centre, label, bounds (inclusive), the sums of its pixels' columns and rows
// (64-bit: they pass 32 bits on large images), and its area in pixels.
struct CRegion {
    int cx = 0;
    int cy = 0;
    int label = 0;
    int left = 100000;
    int top = 100000;
    int right = 0;
    int bottom = 0;
    int64_t sum_x = 0;
    int64_t sum_y = 0;
    int area = 0;
};

// A labelled image and its regions.
struct LabelImageAndRegions {
    LabelImageAndRegions() = default;
    explicit LabelImageAndRegions(const AlgoLibrary::MemManager::MemoryManager& manager) : image(manager) {}

    CGrayImage<int> image;
    std::list<CRegion> regions;
};

// Replaces every 4-connected area of a seed value by a fresh label (1, 2, ...; a label equal to
// the seed value is skipped), by scan-line flood filling, and lists the regions that reach a
// minimum area. Rectangles are inclusive on all sides and are cut to the image.
class CLabeller {
public:
    CLabeller(int seed, const kiv::SRECT& search, const kiv::SRECT& fill, int min_area);

    // Labels the image of `result` in place and rebuilds its region list.
    void CreateRegions(LabelImageAndRegions& result);

    // Fills the area of the seed value around (x, y) with the label, accumulating it into region.
    void FillRegion(CRegion& region, CGrayImage<int>& image, int label, int x, int y);

    // Labels the run of seed pixels through (x, y) within the fill rectangle; first and last
    // receive its columns.
    void IntervalScan(CGrayImage<int>& image, int x, int y, int label, int& first, int& last) const;

    // Starts a run at every seed pixel of row y below or above `run`, pushing each onto the stack.
    void StartNewScans(CGrayImage<int>& image, const SegmentLine& run, int y, int label,
                       std::vector<SegmentLine>& stack) const;

    int NextLabel() const { return m_next_label; }

private:
    int m_seed;
    kiv::SRECT m_search;
    kiv::SRECT m_fill;
    int m_min_area;
    int m_next_label = 1;
    std::vector<SegmentLine> m_stack;
};
