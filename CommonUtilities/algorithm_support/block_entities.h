#pragma once

#include <functional>
#include <vector>

#include "CommonUtilities/algorithm_support/context.h"

namespace BlockEntities {

// The interface of every block: its hierarchical name.
class IAlgoEntityBase {
public:
    virtual Context& GetModifiableContext() = 0;
    virtual const Context& GetContext() const = 0;
    virtual ~IAlgoEntityBase() = default;
};

// A block that may list children; without the list mix-in a block has none.
class IHasChildren {
public:
    virtual void ForEachAlgoEntityChild(std::function<void(IAlgoEntityBase*)> fn);

protected:
    ~IHasChildren() = default;
};

// The entry point a parent hands to its children so that they register themselves.
class ICanRegisterChildren {
public:
    virtual void RegisterChild(IAlgoEntityBase* child) = 0;

protected:
    ~ICanRegisterChildren() = default;
};

// The list of a block's children. The list does not own them: every child is a member of its parent
// or owned by a ChildBlockPtr member of it.
class ImplIHasChildren : public IHasChildren {
public:
    class ChildrenContainer final : public ICanRegisterChildren {
    public:
        ChildrenContainer() = default;
        ~ChildrenContainer() = default;
        ChildrenContainer(const ChildrenContainer&) = delete;
        ChildrenContainer& operator=(const ChildrenContainer&) = delete;

        void RegisterChild(IAlgoEntityBase* child) override { m_children.push_back(child); }
        const std::vector<IAlgoEntityBase*>& GetChildren() const { return m_children; }

    private:
        std::vector<IAlgoEntityBase*> m_children;
    };

    // Calls fn for every child in registration order.
    void ForEachAlgoEntityChild(std::function<void(IAlgoEntityBase*)> fn) override;

    // What this block hands to its children as their parent.
    ICanRegisterChildren* GetChildrenRegistry() { return &m_children_container; }
    void RegisterChild(IAlgoEntityBase* child) { m_children_container.RegisterChild(child); }

protected:
    ImplIHasChildren() = default;
    ~ImplIHasChildren() = default;

private:
    ChildrenContainer m_children_container;
};

}  // namespace BlockEntities
