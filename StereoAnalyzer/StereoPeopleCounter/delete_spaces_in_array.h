#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace stereo {

// Removes the items whose flag is set, keeping the order of the rest. The flags must be as many
// as the items.
template <typename Container>
void DeleteSpacesInArray(Container& items, const std::vector<bool>& flags)
{
    KIV_CHECK(flags.size() == static_cast<std::size_t>(items.size()), "DeleteSpacesInArray_flags_size")
        << "flags: " << static_cast<int>(flags.size()) << ", items: " << static_cast<int>(items.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < flags.size(); ++i) {
        if (flags[i])
            continue;
        if (kept != i)
            items[kept] = std::move(items[i]);
        ++kept;
    }
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(kept), items.end());
}

}  // namespace stereo
