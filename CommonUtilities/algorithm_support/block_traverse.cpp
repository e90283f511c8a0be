#include "CommonUtilities/algorithm_support/block_traverse.h"

namespace BlockEntities {
namespace detail {

void ProcessOneChild(std::queue<IAlgoEntityBase*>& queue, const TreeVisitor& fn, IAlgoEntityBase* child)
{
    fn(child, queue.front());
    queue.push(child);
}

void TraverseTree(IAlgoEntityBase* root, TreeVisitor fn)
{
    std::queue<IAlgoEntityBase*> queue;
    fn(root, nullptr);
    std::function<void(IAlgoEntityBase*)> on_child = [&queue, fn](IAlgoEntityBase* child) {
        ProcessOneChild(queue, fn, child);
    };
    queue.push(root);
    while (!queue.empty()) {
        IAlgoEntityBase* entity = queue.front();
        if (entity) {
            if (auto* with_children = dynamic_cast<IHasChildren*>(entity))
                with_children->ForEachAlgoEntityChild(on_child);
        }
        queue.pop();
    }
}

void HierarchyParentSetter(IAlgoEntityBase* entity, const IAlgoEntityBase* parent)
{
    if (!parent)
        return;
    entity->GetModifiableContext().SetHierarchyParent(parent->GetContext());
}

}  // namespace detail

void TraverseSetContexts(IAlgoEntityBase* root)
{
    detail::TraverseTree(root, &detail::HierarchyParentSetter);
}

}  // namespace BlockEntities
