#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

// Comparison networks for the medians of small windows (internal to the median filters), built
// while compiling. A network is a fixed list of steps over numbered values; each step compares two
// of them and leaves the smaller in the first and the larger in the second (or, where later steps
// read only one of them, computes just that one). The same list runs on single pixels and on
// vectors of pixels, so both give the same result.
namespace stereo {
namespace median_detail {

enum class Keep : uint8_t { kBoth, kMin, kMax };

struct Comparison {
    uint8_t low;   // receives the smaller value (kBoth, kMin)
    uint8_t high;  // receives the larger value (kBoth, kMax)
    Keep keep;
};

// Networks of up to 192 values and 4096 steps while they are built (the largest in use, the double
// median of radius 3, selects from 98 values in about 560 steps).
constexpr int kMaxNetworkValues = 192;
constexpr int kMaxNetworkSteps = 4096;

struct Network {
    Comparison steps[kMaxNetworkSteps] = {};
    int size = 0;
    // Sorting networks: the value of rank k ends in order[k]. Selection networks: order[0] holds the
    // selected value.
    uint8_t order[kMaxNetworkValues] = {};
};

namespace network_build {

struct Steps {
    Comparison list[kMaxNetworkSteps] = {};
    int size = 0;
    constexpr void Add(int low, int high)
    {
        list[size++] = {static_cast<uint8_t>(low), static_cast<uint8_t>(high), Keep::kBoth};
    }
};

// Batcher's odd-even merge of the sorted value lists a (p values) and b (q values) into out
// (p + q values, in order): the even-numbered and the odd-numbered values of both lists are merged
// on their own, interleaved, and each odd one compared with the even one after it.
constexpr void Merge(Steps& steps, const int* a, int p, const int* b, int q, int* out)
{
    if (p == 0 || q == 0) {
        for (int i = 0; i < p; ++i) out[i] = a[i];
        for (int i = 0; i < q; ++i) out[p + i] = b[i];
        return;
    }
    if (p == 1 && q == 1) {
        steps.Add(a[0], b[0]);
        out[0] = a[0];
        out[1] = b[0];
        return;
    }
    int aEven[kMaxNetworkValues] = {}, aOdd[kMaxNetworkValues] = {};
    int bEven[kMaxNetworkValues] = {}, bOdd[kMaxNetworkValues] = {};
    for (int i = 0; i < p; ++i) (i % 2 == 0 ? aEven[i / 2] : aOdd[i / 2]) = a[i];
    for (int i = 0; i < q; ++i) (i % 2 == 0 ? bEven[i / 2] : bOdd[i / 2]) = b[i];
    int even[kMaxNetworkValues] = {}, odd[kMaxNetworkValues] = {};
    const int evens = (p + 1) / 2 + (q + 1) / 2, odds = p / 2 + q / 2;
    Merge(steps, aEven, (p + 1) / 2, bEven, (q + 1) / 2, even);
    Merge(steps, aOdd, p / 2, bOdd, q / 2, odd);
    int e = 0, o = 0;
    for (int k = 0; k < p + q; ++k) out[k] = (k % 2 == 0 && e < evens) || o == odds ? even[e++] : odd[o++];
    for (int k = 1; k + 1 < p + q; k += 2) steps.Add(out[k], out[k + 1]);
}

// Batcher's merge sort of the n values named in `values`, which afterwards lists them in order.
constexpr void Sort(Steps& steps, int* values, int n)
{
    if (n < 2)
        return;
    const int half = n / 2;
    Sort(steps, values, half);
    Sort(steps, values + half, n - half);
    int merged[kMaxNetworkValues] = {};
    Merge(steps, values, half, values + half, n - half, merged);
    for (int i = 0; i < n; ++i) values[i] = merged[i];
}

// Keeps the steps that lead to the value `result`, walking back from it: a step whose outputs no
// later step reads is dropped, one of which only the smaller or the larger is read computes that
// one alone.
constexpr Network KeepStepsFor(const Steps& steps, int result)
{
    bool needed[kMaxNetworkValues] = {};
    needed[result] = true;
    Comparison kept[kMaxNetworkSteps] = {};
    int count = 0;
    for (int i = steps.size - 1; i >= 0; --i) {
        Comparison c = steps.list[i];
        const bool low = needed[c.low], high = needed[c.high];
        if (!low && !high)
            continue;
        c.keep = low && high ? Keep::kBoth : low ? Keep::kMin : Keep::kMax;
        needed[c.low] = needed[c.high] = true;
        kept[count++] = c;
    }
    Network network;
    for (int i = 0; i < count; ++i) network.steps[i] = kept[count - 1 - i];
    network.size = count;
    network.order[0] = static_cast<uint8_t>(result);
    return network;
}

}  // namespace network_build

// Sorts n values (n <= kMaxNetworkValues).
constexpr Network SortingNetwork(int n)
{
    network_build::Steps steps;
    int values[kMaxNetworkValues] = {};
    for (int i = 0; i < n; ++i) values[i] = i;
    network_build::Sort(steps, values, n);
    Network network;
    for (int i = 0; i < steps.size; ++i) network.steps[i] = steps.list[i];
    network.size = steps.size;
    for (int i = 0; i < n; ++i) network.order[i] = static_cast<uint8_t>(values[i]);
    return network;
}

// Selects the value of rank `rank` (0-based) among `columns` sorted columns of `height` values each,
// value i of column j being value j * height + i (height * columns <= kMaxNetworkValues).
//
// Sorting the values of each rank across the columns keeps the columns sorted. In a table sorted
// both ways, the value in row i and column j has at least (i + 1) (j + 1) values at or below it and
// (height - i) (columns - j) at or above it, so only a band of values can have the rank asked for:
// those below the band are counted off the rank, those above are dropped. The band's values of one
// row are consecutive in that row, so merging these runs puts the one asked for in its place. Of a
// row of which only the largest (smallest) value is in the band, just that one is computed.
constexpr Network SelectionNetwork(int height, int columns, int rank)
{
    network_build::Steps steps;
    const int total = height * columns;
    int runs[kMaxNetworkValues][kMaxNetworkValues] = {};
    int runLength[kMaxNetworkValues] = {};
    int runCount = 0;
    int below = 0;
    for (int i = 0; i < height; ++i) {
        int row[kMaxNetworkValues] = {};
        for (int j = 0; j < columns; ++j) row[j] = j * height + i;
        int first = columns, last = -1;
        for (int j = 0; j < columns; ++j) {
            if ((height - i) * (columns - j) - 1 >= total - rank)
                ++below;  // at least total - rank other values at or above it: its rank is lower
            else if ((i + 1) * (j + 1) - 1 < rank + 1) {
                first = first < j ? first : j;  // not at least rank + 1 others at or below it
                last = j;
            }
        }
        if (last < 0)
            continue;
        int* run = runs[runCount];
        if (first == columns - 1) {
            for (int j = 0; j + 1 < columns; ++j) steps.Add(row[j], row[j + 1]);
            run[0] = row[columns - 1];
        } else if (last == 0) {
            for (int j = columns - 1; j > 0; --j) steps.Add(row[j - 1], row[j]);
            run[0] = row[0];
        } else {
            network_build::Sort(steps, row, columns);
            for (int j = first; j <= last; ++j) run[j - first] = row[j];
        }
        runLength[runCount++] = last - first + 1;
    }
    // Merge the runs pairwise until one is left.
    while (runCount > 1) {
        int next = 0;
        for (int k = 0; k + 1 < runCount; k += 2) {
            int merged[kMaxNetworkValues] = {};
            network_build::Merge(steps, runs[k], runLength[k], runs[k + 1], runLength[k + 1], merged);
            const int length = runLength[k] + runLength[k + 1];
            for (int i = 0; i < length; ++i) runs[next][i] = merged[i];
            runLength[next++] = length;
        }
        if (runCount % 2 == 1) {
            for (int i = 0; i < runLength[runCount - 1]; ++i) runs[next][i] = runs[runCount - 1][i];
            runLength[next++] = runLength[runCount - 1];
        }
        runCount = next;
    }
    return network_build::KeepStepsFor(steps, runs[0][rank - below]);
}

// The networks as types, so that their steps can be unrolled into straight code.
template <int kCount>
struct SortNetworkOf {
    static constexpr Network kNetwork = SortingNetwork(kCount);
};

template <int kHeight, int kColumns, int kRank>
struct SelectionNetworkOf {
    static constexpr Network kNetwork = SelectionNetwork(kHeight, kColumns, kRank);
};

template <class Ops, int kLow, int kHigh, Keep kKeep, class V>
inline void RunStep(V* v)
{
    if constexpr (kKeep == Keep::kBoth) {
        const V low = Ops::Min(v[kLow], v[kHigh]);
        v[kHigh] = Ops::Max(v[kLow], v[kHigh]);
        v[kLow] = low;
    } else if constexpr (kKeep == Keep::kMin) {
        v[kLow] = Ops::Min(v[kLow], v[kHigh]);
    } else {
        v[kHigh] = Ops::Max(v[kLow], v[kHigh]);
    }
}

template <class Of, class Ops, class V, std::size_t... kI>
inline void RunSteps(V* v, std::index_sequence<kI...>)
{
    // A braced list runs its elements in order, and unlike a fold over the comma, it does not nest.
    const int steps[] = {
        (RunStep<Ops, Of::kNetwork.steps[kI].low, Of::kNetwork.steps[kI].high, Of::kNetwork.steps[kI].keep>(v), 0)...,
        0};
    static_cast<void>(steps);
}

// Runs the network of `Of` (SortNetworkOf or SelectionNetworkOf) on the values v; Ops::Min and
// Ops::Max compare two of them.
template <class Of, class Ops, class V>
inline void RunNetwork(V* v)
{
    RunSteps<Of, Ops>(v, std::make_index_sequence<Of::kNetwork.size>());
}

}  // namespace median_detail
}  // namespace stereo
