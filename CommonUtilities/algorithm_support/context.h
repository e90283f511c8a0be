#pragma once

#include <string>
#include <vector>

namespace BlockEntities {

// A block's names, its own first and the root's last, with the cached hierarchy name: the
// non-empty names joined root-first by "--".
struct Context {
    Context() : names(1, std::string()) {}

    // Recomputes `cached` from `names`; call after every change of `names`.
    void UpdateCachedNames()
    {
        cached.clear();
        for (auto it = names.rbegin(); it != names.rend(); ++it) {
            if (it->empty())
                continue;
            if (!cached.empty())
                cached += "--";
            cached += *it;
        }
    }

    const std::string& GetHierarchyName() const { return cached; }

    std::vector<std::string> names;
    std::string cached;
};

}  // namespace BlockEntities
