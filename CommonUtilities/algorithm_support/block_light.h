#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "CommonUtilities/DebugInterfaces/debug_helper_base.h"
#include "CommonUtilities/ParameterAccess/parameters.h"
#include "CommonUtilities/algorithm_support/block_entities.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"
#include "CommonUtilities/algorithm_support/context.h"

namespace BlockHighlevel {

// The ready-made block base: the interface I (IAlgoEntityBase or one derived from it) with logging and
// statistics, a child list, a parameter list and the block's context.
template <typename I>
class LightBlock : public I,
                   public BlockEntities::ImplIDebuggable,
                   public BlockEntities::ImplIHasChildren,
                   public ParamsLib::ImplIHasParameters {
public:
    LightBlock() = default;
    ~LightBlock() override = default;

    BlockEntities::Context& GetModifiableContext() override { return m_context; }
    const BlockEntities::Context& GetContext() const override { return m_context; }

    // A named block reports under its own context, an unnamed one under its fallback name.
    const BlockEntities::Context& GetContextForDebugInterfaces() const override
    {
        if (!m_context.cached.empty())
            return m_context;
        return BlockEntities::DebugHelperBase::GetContextForDebugInterfaces();
    }

private:
    BlockEntities::Context m_context;
};

// A block embedded by value in its parent, named and registered when it is constructed.
template <typename T>
class ChildBlock : public T {
public:
    template <typename... Args>
    ChildBlock(const std::string& name, BlockEntities::ICanRegisterChildren* parent, Args&&... args)
        : T(std::forward<Args>(args)...)
    {
        DoRegister(name, parent);
    }

    // Names the block and registers it with the parent; works also where T reaches its block base
    // through a virtual base.
    void DoRegister(const std::string& name, BlockEntities::ICanRegisterChildren* parent)
    {
        BlockEntities::IAlgoEntityBase& entity = *this;
        entity.GetModifiableContext().SetName(name);
        if (parent)
            parent->RegisterChild(&entity);
    }
};

// A block owned through a pointer, set once after construction and named and registered then.
template <typename T, typename D = std::default_delete<T>>
class ChildBlockPtr {
public:
    ChildBlockPtr(const std::string& name, BlockEntities::ICanRegisterChildren* parent) : m_name(name), m_parent(parent)
    {
        DoRegister();
    }
    ChildBlockPtr(const ChildBlockPtr&) = delete;
    ChildBlockPtr& operator=(const ChildBlockPtr&) = delete;

    // Takes ownership of p. Only one non-null object can ever be set.
    void reset(T* p)
    {
        if (m_ptr || !p)
            throw std::logic_error("You can reset ChildPtr only if previous value was nullptr");
        m_ptr.reset(p);
        DoRegister();
    }

    void DoRegister()
    {
        if (!m_ptr)
            return;
        BlockEntities::IAlgoEntityBase& entity = *m_ptr;
        entity.GetModifiableContext().SetName(m_name);
        if (m_parent)
            m_parent->RegisterChild(&entity);
    }

    T* get() const { return m_ptr.get(); }
    T* operator->() const { return m_ptr.get(); }
    T& operator*() const { return *m_ptr; }
    explicit operator bool() const { return static_cast<bool>(m_ptr); }
    const std::string& GetName() const { return m_name; }

private:
    // The held object goes after the name (members are destroyed in reverse order).
    std::unique_ptr<T, D> m_ptr;
    std::string m_name;
    BlockEntities::ICanRegisterChildren* m_parent;  // the parent's child list; the parent outlives this member
};

}  // namespace BlockHighlevel
