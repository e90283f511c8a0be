#include "CommonUtilities/algorithm_support/block_entities.h"

namespace BlockEntities {

void IHasChildren::ForEachAlgoEntityChild(std::function<void(IAlgoEntityBase*)>) {}

void ImplIHasChildren::ForEachAlgoEntityChild(std::function<void(IAlgoEntityBase*)> fn)
{
    for (IAlgoEntityBase* child : m_children_container.GetChildren()) fn(child);
}

}  // namespace BlockEntities
