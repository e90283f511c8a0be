#include "PeopleCounter/analytics/traffic_controller/src/primitives/bipartite_weight_matching.h"

#include <algorithm>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace AlgoLibrary {
namespace Assignment {
namespace MyMethod {

namespace {

constexpr long long kInfinity = std::numeric_limits<long long>::max();

struct HeapOrder {
    template <typename T>
    bool operator()(const T& a, const T& b) const
    {
        if (a.key != b.key)
            return a.key > b.key;
        if (a.row != b.row)
            return a.row > b.row;
        return a.column > b.column;
    }
};

int Largest(const int* data, std::size_t count, AlgoLibrary::KernelPath path)
{
    std::size_t i = 0;
    int highest = data[0];
#if CV_SIMD128
    if (path == AlgoLibrary::KernelPath::kVector && count >= 4) {
        cv::v_int32x4 v = cv::v_load(data);
        for (i = 4; i + 4 <= count; i += 4) v = cv::v_max(v, cv::v_load(data + i));
        highest = cv::v_reduce_max(v);
    }
#else
    (void)path;
#endif
    for (; i < count; ++i) highest = std::max(highest, data[i]);
    return highest;
}

// The first index from j on whose entry differs from `value`, or count.
std::size_t SkipEntries(const int* row, std::size_t j, std::size_t count, int value, AlgoLibrary::KernelPath path)
{
#if CV_SIMD128
    if (path == AlgoLibrary::KernelPath::kVector) {
        const cv::v_int32x4 v = cv::v_setall_s32(value);
        while (j + 4 <= count && cv::v_check_all(cv::v_load(row + j) == v)) j += 4;
    }
#else
    (void)path;
#endif
    while (j < count && row[j] == value) ++j;
    return j;
}

}  // namespace

void BipartiteWeightMatchingImpl::CheckMatrixSize(bool holds_square, int n)
{
    KIV_CHECK(holds_square, "BipartiteMatrixSize_261209_131800")
        << "BipartiteWeightMatching: the matrix holds fewer than n x n entries, n = " << n;
}

long long BipartiteWeightMatchingImpl::Run(const int* matrix, int n)
{
    const std::size_t size = static_cast<std::size_t>(n);
    const AlgoLibrary::KernelPath path = AlgoLibrary::ActiveKernelPath();
    const int max_entry = Largest(matrix, size * size, path);

    // Edges for the entries below the largest; the smallest entry is among them (or there are none).
    m_edge_begin.resize(size + 1);
    m_edges.clear();
    int min_entry = max_entry;
    for (std::size_t i = 0; i < size; ++i) {
        m_edge_begin[i] = static_cast<int>(m_edges.size());
        const int* row = matrix + i * size;
        for (std::size_t j = 0; j < size; ++j) {
            // Most entries are "never pair": whole blocks of them are passed over at once.
            j = SkipEntries(row, j, size, max_entry, path);
            if (j >= size)
                break;
            min_entry = std::min(min_entry, row[j]);
            m_edges.push_back(Edge{static_cast<int>(j), static_cast<long long>(max_entry) - row[j]});
        }
    }
    m_edge_begin[size] = static_cast<int>(m_edges.size());
    const long long range = static_cast<long long>(max_entry) - min_entry;

    // Every row starts with the largest weight as its dual and every column with 0: each edge's
    // slack (row dual + column dual - weight) is then entry - minimum >= 0, and a row whose dual
    // falls to 0 gains nothing from a pair.
    for (const Edge& edge : m_edges)
        KIV_CHECK(range - edge.weight >= 0, "BipartiteNegativeSlack_261209_132002")
            << "BipartiteWeightMatching: negative initial slack";
    m_row_dual.assign(size, range);
    m_column_dual.assign(size, 0);
    m_row_mate.assign(size, -1);
    m_column_mate.assign(size, -1);
    m_row_joined.assign(size, -1);
    m_column_joined.assign(size, -1);
    m_column_parent.assign(size, -1);
    m_tree_rows.clear();
    m_tree_columns.clear();
    m_heap.clear();

    // The rows not yet paired are all at the initial dual, and a search changes only the duals
    // of the rows in its tree: taking the roots in index order takes the greatest dual first,
    // the lowest index among equal ones.
    for (int root = 0; root < n; ++root) {
        if (m_row_mate[static_cast<std::size_t>(root)] < 0 && m_row_dual[static_cast<std::size_t>(root)] > 0)
            Phase(root);
    }

    long long paired_duals = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const int mate = m_row_mate[i];
        if (mate >= 0)
            paired_duals += m_row_dual[i] + m_column_dual[static_cast<std::size_t>(mate)];
    }
    const long long result = static_cast<long long>(max_entry) * n - paired_duals;
    if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min())
        throw std::range_error("BipartiteWeightMatching: the total cost does not fit in 32 bits");
    return result;
}

void BipartiteWeightMatchingImpl::ScanRow(int row, long long delta)
{
    const std::size_t r = static_cast<std::size_t>(row);
    for (int e = m_edge_begin[r]; e < m_edge_begin[r + 1]; ++e) {
        const Edge& edge = m_edges[static_cast<std::size_t>(e)];
        const std::size_t c = static_cast<std::size_t>(edge.column);
        if (m_column_joined[c] >= 0)
            continue;
        // The slack falls one to one with the dual change while the row is in the tree and the
        // column is not: the edge becomes tight at delta + slack.
        const long long slack = m_row_dual[r] + m_column_dual[c] - edge.weight;
        m_heap.push_back(HeapItem{delta + slack, row, edge.column});
        std::push_heap(m_heap.begin(), m_heap.end(), HeapOrder());
    }
}

void BipartiteWeightMatchingImpl::Flip(int column)
{
    while (column >= 0) {
        const int row = m_column_parent[static_cast<std::size_t>(column)];
        const int next = m_row_mate[static_cast<std::size_t>(row)];
        m_row_mate[static_cast<std::size_t>(row)] = column;
        m_column_mate[static_cast<std::size_t>(column)] = row;
        column = next;
    }
}

void BipartiteWeightMatchingImpl::Phase(int root)
{
    m_row_joined[static_cast<std::size_t>(root)] = 0;
    m_tree_rows.push_back(root);
    // The accumulated change at which the first row of the tree reaches dual 0, and that row.
    long long zero_delta = m_row_dual[static_cast<std::size_t>(root)];
    int zero_row = root;
    ScanRow(root, 0);

    long long delta = 0;
    int free_column = -1;
    for (;;) {
        while (!m_heap.empty() && m_column_joined[static_cast<std::size_t>(m_heap.front().column)] >= 0) {
            std::pop_heap(m_heap.begin(), m_heap.end(), HeapOrder());
            m_heap.pop_back();
        }
        const long long edge_delta = m_heap.empty() ? kInfinity : m_heap.front().key;
        if (zero_delta <= edge_delta) {
            delta = zero_delta;
            break;
        }
        const HeapItem item = m_heap.front();
        std::pop_heap(m_heap.begin(), m_heap.end(), HeapOrder());
        m_heap.pop_back();
        delta = item.key;
        const std::size_t c = static_cast<std::size_t>(item.column);
        m_column_joined[c] = delta;
        m_column_parent[c] = item.row;
        m_tree_columns.push_back(item.column);
        const int partner = m_column_mate[c];
        if (partner < 0) {
            free_column = item.column;
            break;
        }
        const std::size_t p = static_cast<std::size_t>(partner);
        m_row_joined[p] = delta;
        m_tree_rows.push_back(partner);
        if (delta + m_row_dual[p] < zero_delta) {
            zero_delta = delta + m_row_dual[p];
            zero_row = partner;
        }
        ScanRow(partner, delta);
    }

    // The duals of the tree move by the accumulated change since each vertex joined.
    for (int row : m_tree_rows) {
        const std::size_t r = static_cast<std::size_t>(row);
        m_row_dual[r] -= delta - m_row_joined[r];
        m_row_joined[r] = -1;
    }
    for (int column : m_tree_columns) {
        const std::size_t c = static_cast<std::size_t>(column);
        m_column_dual[c] += delta - m_column_joined[c];
        m_column_joined[c] = -1;
    }
    m_tree_rows.clear();
    m_tree_columns.clear();
    m_heap.clear();

    if (free_column >= 0) {
        Flip(free_column);
    } else if (zero_row != root) {
        // The row whose dual reached 0 gives its column up; the pairs back to the root flip.
        const int column = m_row_mate[static_cast<std::size_t>(zero_row)];
        m_row_mate[static_cast<std::size_t>(zero_row)] = -1;
        m_column_mate[static_cast<std::size_t>(column)] = -1;
        Flip(column);
    }
    // Otherwise the root's dual is 0: it stays unpaired.
}

BipartiteWeightMatching::BipartiteWeightMatching() : m_impl(std::make_unique<BipartiteWeightMatchingImpl>()) {}

BipartiteWeightMatching::~BipartiteWeightMatching() = default;

int BipartiteWeightMatching::Solve(const avector<int>& matrix, int n, std::vector<std::pair<int, int>>& out)
{
    return m_impl->Solve(matrix, n, out);
}

int BipartiteWeightMatching::Solve(const std::vector<int>& matrix, int n, std::vector<std::pair<int, int>>& out)
{
    return m_impl->Solve(matrix, n, out);
}

int BipartiteWeightMatching::Solve(const avector<int>& matrix, int n, avector<std::pair<int, int>>& out)
{
    return m_impl->Solve(matrix, n, out);
}

}  // namespace MyMethod
}  // namespace Assignment
}  // namespace AlgoLibrary
