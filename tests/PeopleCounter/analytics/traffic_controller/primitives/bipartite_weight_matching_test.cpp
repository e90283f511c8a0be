#include "PeopleCounter/analytics/traffic_controller/src/primitives/bipartite_weight_matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"

namespace {

using AlgoLibrary::Assignment::MyMethod::BipartiteWeightMatching;
using Pairs = std::vector<std::pair<int, int>>;

TEST(BipartiteWeightMatchingTest, SmallMatricesPairForTheLargestTotalWeight)
{
    struct Case {
        const char* what;
        int n;
        std::vector<int> matrix;
        Pairs pairs;
        int result;
    };
    const Case cases[] = {
        {"one possible link", 2, {0, 10000, 10000, 10000}, {{0, 0}, {1, -1}}, 10000},
        {"all entries equal: no edges", 3, std::vector<int>(9, 7), {{0, -1}, {1, -1}, {2, -1}}, 21},
        {"two pairs beat one cheaper pair", 2, {1, 2, 2, 100}, {{0, 1}, {1, 0}}, 4},
        // Three dear links (5400 in all) weigh more than two free ones: 3 x 10000 - 5400 > 2 x 10000.
        {"more dear links beat fewer cheap ones",
         4,
         {0, 1800, 10000, 10000, 10000, 0, 1800, 10000, 1800, 10000, 10000, 10000, 10000, 10000, 10000, 10000},
         {{0, 1}, {1, 2}, {2, 0}, {3, -1}},
         15400},
        {"negative entries", 2, {-5, 3, 3, 3}, {{0, 0}, {1, -1}}, -2},
    };
    BipartiteWeightMatching matcher;
    for (const Case& c : cases) {
        Pairs pairs;
        EXPECT_EQ(matcher.Solve(c.matrix, c.n, pairs), c.result) << c.what;
        EXPECT_EQ(pairs, c.pairs) << c.what;
    }
}

TEST(BipartiteWeightMatchingTest, AllThreeFormsAgreeAndTinyMatricesAreLeftAlone)
{
    const std::vector<int> plain = {5, 10000, 3, 10000, 10000, 1, 2, 10000, 10000};
    AlgoLibrary::MemManager::MemoryManager manager;
    const avector<int> pooled(plain.begin(), plain.end(), avector<int>::allocator_type(manager));
    BipartiteWeightMatching matcher;
    Pairs a, b;
    avector<std::pair<int, int>> c{avector<std::pair<int, int>>::allocator_type(manager)};
    const int ra = matcher.Solve(plain, 3, a);
    EXPECT_EQ(matcher.Solve(pooled, 3, b), ra);
    EXPECT_EQ(matcher.Solve(pooled, 3, c), ra);
    EXPECT_EQ(ra, 10003);  // (1, 2) and (2, 0): two pairs beat the cheaper (0, 0) with (1, 2)
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, Pairs(c.begin(), c.end()));

    Pairs untouched = {{7, 7}};
    EXPECT_EQ(matcher.Solve(std::vector<int>{4}, 1, untouched), 0);
    EXPECT_EQ(matcher.Solve(std::vector<int>{}, 0, untouched), 0);
    EXPECT_EQ(untouched, (Pairs{{7, 7}}));
    EXPECT_THROW(matcher.Solve(std::vector<int>(8, 0), 3, untouched), exc::KIVException);
}

// The largest total weight (largest entry - entry) over all pairings that avoid the largest
// entry, by dynamic programming over the set of used columns.
long long BruteForceBestWeight(const std::vector<int>& m, int n)
{
    const int max_entry = *std::max_element(m.begin(), m.end());
    std::vector<long long> best(std::size_t{1} << n, -1);
    best[0] = 0;
    for (int row = 0; row < n; ++row) {
        std::vector<long long> next = best;  // the row stays unpaired
        for (std::size_t used = 0; used < best.size(); ++used) {
            if (best[used] < 0)
                continue;
            for (int col = 0; col < n; ++col) {
                const int e = m[static_cast<std::size_t>(row * n + col)];
                if ((used >> col) & 1 || e == max_entry)
                    continue;
                const std::size_t to = used | (std::size_t{1} << col);
                next[to] = std::max(next[to], best[used] + max_entry - e);
            }
        }
        best = next;
    }
    return *std::max_element(best.begin(), best.end());
}

TEST(BipartiteWeightMatchingTest, RandomSparseMatricesMatchBruteForce)
{
    std::mt19937 random(1234);
    BipartiteWeightMatching matcher;
    struct Kind {
        const char* what;
        int low, high;  // entries of possible links
        int no_link;
        bool tracker_border;  // last row and column all no-link, as the tracker builds them
    };
    const Kind kinds[] = {{"tracker costs", 0, 2000, 10000, true},
                          {"tracker costs without border", 0, 2000, 10000, false},
                          {"wide range", -50, 9000, 10000, false},
                          {"close costs", 0, 20, 25, false}};
    for (int pass = 0; pass < 2; ++pass) {
        // The scalar and the vector scans of the matrix.
        const AlgoLibrary::ScopedKernelPath scoped(pass == 0 ? AlgoLibrary::KernelPath::kScalar
                                                             : AlgoLibrary::KernelPath::kVector);
        for (const Kind& kind : kinds) {
            for (int trial = 0; trial < 400; ++trial) {
                const int n = 2 + trial % 7;
                const double density = 0.15 + 0.1 * (trial % 6);
                std::bernoulli_distribution link(density);
                std::uniform_int_distribution<int> cost(kind.low, kind.high);
                std::vector<int> m(static_cast<std::size_t>(n * n), kind.no_link);
                for (int r = 0; r < n; ++r)
                    for (int c = 0; c < n; ++c)
                        if (link(random) && !(kind.tracker_border && (r == n - 1 || c == n - 1)))
                            m[static_cast<std::size_t>(r * n + c)] = cost(random);
                const int max_entry = *std::max_element(m.begin(), m.end());

                Pairs pairs;
                const int result = matcher.Solve(m, n, pairs);
                ASSERT_EQ(static_cast<int>(pairs.size()), n);
                long long total = 0;
                std::vector<bool> used(static_cast<std::size_t>(n), false);
                for (int r = 0; r < n; ++r) {
                    EXPECT_EQ(pairs[static_cast<std::size_t>(r)].first, r);
                    const int c = pairs[static_cast<std::size_t>(r)].second;
                    if (c < 0) {
                        total += max_entry;
                        continue;
                    }
                    const int e = m[static_cast<std::size_t>(r * n + c)];
                    EXPECT_NE(e, max_entry) << kind.what << " trial " << trial << ": paired through a no-link entry";
                    EXPECT_FALSE(used[static_cast<std::size_t>(c)]) << kind.what << " trial " << trial;
                    used[static_cast<std::size_t>(c)] = true;
                    total += e;
                }
                EXPECT_EQ(result, total) << kind.what << " trial " << trial;
                EXPECT_EQ(static_cast<long long>(max_entry) * n - result, BruteForceBestWeight(m, n))
                    << kind.what << " trial " << trial << " n " << n;
            }
        }
    }
}

}  // namespace
