#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/block_log.h"
#include "CommonUtilities/DebugInterfaces/stats_storage.h"
#include "CommonUtilities/algorithm_support/context.h"

namespace cv {
class Mat;
}

namespace BlockEntities {
namespace DebugDraw {

// A drawing surface for debug pictures; defined by the visualiser that draws on it.
class IDraw;

// A block's debug picture provider.
class IVisualizer {
public:
    virtual std::vector<std::string> PicturesList() const = 0;
    virtual bool IsPictureFullScreen(const std::string& picture) const = 0;
    virtual void DrawOn(IDraw* surface, const std::string& picture) = 0;
    virtual std::vector<std::string> BitmapsList() const = 0;
    // The bitmap of that name, or null for a name not in the list.
    virtual cv::Mat* GetDebugBitmap(const std::string& bitmap) = 0;
    virtual ~IVisualizer() = default;
};

// A registry of the visualisers of a block tree.
class IRegisterVisualizer {
public:
    virtual void RegisterVisualizer(const Context& context, std::shared_ptr<IVisualizer> visualizer) = 0;
    virtual ~IRegisterVisualizer() = default;
};

}  // namespace DebugDraw

// The three sinks a block tree shares: log, statistics storage and visualiser registry. Copies share
// the sinks; any of them may be empty.
struct DebugInterfaces {
    DebugInterfaces() = default;
    DebugInterfaces(std::shared_ptr<Log::ILog> log_sink, std::shared_ptr<Stats::IStorage> stats_storage,
                    std::shared_ptr<DebugDraw::IRegisterVisualizer> visualizer_registry)
        : log(std::move(log_sink)), stats(std::move(stats_storage)), visualizers(std::move(visualizer_registry))
    {
    }

    std::shared_ptr<Log::ILog> log;
    std::shared_ptr<Stats::IStorage> stats;
    std::shared_ptr<DebugDraw::IRegisterVisualizer> visualizers;
};

// A block that can be handed the sinks of its tree.
class IDebuggable {
public:
    virtual void SetDebugInterfaces(const DebugInterfaces& interfaces) = 0;
    virtual ~IDebuggable() = default;
};

// The sinks a block takes when it is constructed on this thread: none unless a
// DefaultThreadDebugInterfacesSetter was made on the thread and its target still lives.
class ThreadDefaultDebugInterfaces {
public:
    static DebugInterfaces Get();

private:
    friend class DefaultThreadDebugInterfacesSetter;
    static thread_local std::weak_ptr<DebugInterfaces> thread_ptr;
};

// Makes the given sinks the calling thread's default for blocks constructed afterwards.
class DefaultThreadDebugInterfacesSetter {
public:
    explicit DefaultThreadDebugInterfacesSetter(const std::weak_ptr<DebugInterfaces>& interfaces);
};

}  // namespace BlockEntities
