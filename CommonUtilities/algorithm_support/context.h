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

    // Replaces the block's own name (the first entry).
    void SetName(const std::string& name)
    {
        if (names.empty())
            names.emplace_back();
        names.front() = name;
        UpdateCachedNames();
    }

    // Keeps the own name and puts the parent's names after it.
    void SetHierarchyParent(const Context& parent)
    {
        std::vector<std::string> ancestors = parent.names;  // the parent may be this very context
        if (names.empty())
            names.emplace_back();
        names.resize(1);
        names.insert(names.end(), ancestors.begin(), ancestors.end());
        UpdateCachedNames();
    }

    const std::string& GetHierarchyName() const { return cached; }

    std::vector<std::string> names;
    std::string cached;
};

}  // namespace BlockEntities
