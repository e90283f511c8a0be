#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/mem_manager.h"

namespace AlgoLibrary {
namespace Assignment {
namespace MyMethod {

// The working storage of the matching, reused from call to call: the rows' edge lists, the duals,
// the pairing, the search tree and the slack heap.
class BipartiteWeightMatchingImpl {
public:
    // Pairs rows with columns of the n x n row-major cost matrix so that the total weight
    // (largest entry - entry, summed over the pairs) is maximal; an entry equal to the largest one
    // is never paired. Fills out with (row, column) for every row, column -1 for an unpaired row,
    // and returns the sum of the chosen entries plus the largest entry for every unpaired row.
    // n < 2: returns 0 and leaves out untouched.
    template <typename Matrix, typename Out>
    int Solve(const Matrix& matrix, int n, Out& out)
    {
        if (n < 2)
            return 0;
        CheckMatrixSize(matrix.size() / static_cast<std::size_t>(n) >= static_cast<std::size_t>(n), n);
        long long result = Run(matrix.data(), n);
        out.clear();
        out.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) out.emplace_back(i, m_row_mate[static_cast<std::size_t>(i)]);
        return static_cast<int>(result);
    }

private:
    struct Edge {
        int column;
        long long weight;
    };
    struct HeapItem {
        long long key;  // the accumulated dual change at which the edge becomes tight
        int row;
        int column;
    };

    long long Run(const int* matrix, int n);
    // One search from a free root; returns when the root is paired or given up.
    void Phase(int root);
    void ScanRow(int row, long long delta);
    void Flip(int column);
    // Refuses a matrix with fewer than n x n entries (holds_square false).
    static void CheckMatrixSize(bool holds_square, int n);

    std::vector<int> m_edge_begin;  // row i's edges: [m_edge_begin[i], m_edge_begin[i + 1])
    std::vector<Edge> m_edges;
    std::vector<long long> m_row_dual, m_column_dual;
    std::vector<int> m_row_mate, m_column_mate;
    // Search state: the accumulated dual change at which a vertex joined the tree (-1: not in it),
    // the row a column was reached from.
    std::vector<long long> m_row_joined, m_column_joined;
    std::vector<int> m_column_parent;
    std::vector<int> m_tree_rows, m_tree_columns;
    std::vector<HeapItem> m_heap;
};

// Optimal pairing of paths (rows) and candidate points (columns) by their costs.
class BipartiteWeightMatching {
public:
    BipartiteWeightMatching();
    ~BipartiteWeightMatching();
    BipartiteWeightMatching(const BipartiteWeightMatching&) = delete;
    BipartiteWeightMatching& operator=(const BipartiteWeightMatching&) = delete;

    int Solve(const avector<int>& matrix, int n, std::vector<std::pair<int, int>>& out);
    int Solve(const std::vector<int>& matrix, int n, std::vector<std::pair<int, int>>& out);
    int Solve(const avector<int>& matrix, int n, avector<std::pair<int, int>>& out);

private:
    std::unique_ptr<BipartiteWeightMatchingImpl> m_impl;
};

}  // namespace MyMethod
}  // namespace Assignment
}  // namespace AlgoLibrary
