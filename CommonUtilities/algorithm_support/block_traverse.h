#pragma once

#include <functional>
#include <queue>

#include "CommonUtilities/algorithm_support/block_entities.h"
#include "CommonUtilities/algorithm_support/context.h"

namespace BlockEntities {

namespace detail {

// Receives an entity and its parent (null for the root).
using TreeVisitor = std::function<void(IAlgoEntityBase*, const IAlgoEntityBase*)>;

// Calls fn with the child and its parent (the entity at the front of the queue), then queues the child.
void ProcessOneChild(std::queue<IAlgoEntityBase*>& queue, const TreeVisitor& fn, IAlgoEntityBase* child);

// Breadth-first walk: every block once, parents before children, one depth after another.
void TraverseTree(IAlgoEntityBase* root, TreeVisitor fn);

// Puts the parent's names after the entity's own (nothing for the root).
void HierarchyParentSetter(IAlgoEntityBase* entity, const IAlgoEntityBase* parent);

}  // namespace detail

// Gives every block of the tree its full hierarchy name.
void TraverseSetContexts(IAlgoEntityBase* root);

// Calls fn for every block of the tree that implements Interface, with the block's context. Blocks
// without the interface are passed over, but their children are still visited.
template <typename Interface>
void Traverse(IAlgoEntityBase* root, std::function<void(Interface*, const Context&)> fn)
{
    detail::TraverseTree(root, [fn](IAlgoEntityBase* entity, const IAlgoEntityBase*) {
        if (!entity)
            return;
        if (auto* target = dynamic_cast<Interface*>(entity))
            fn(target, entity->GetContext());
    });
}

}  // namespace BlockEntities
