#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/debug_interfaces.h"

namespace BlockEntities {
namespace DebugDraw {

// The common part of a block's visualiser V over the block D it shows (the debuggee, not owned):
// named pictures drawn on a surface, and named bitmaps handed out by V's member functions.
template <typename V, typename D>
class VisualizerBase : public IVisualizer {
public:
    struct DrawFunctionRec {
        std::function<void(IDraw*)> draw;
        bool full_screen = false;
    };
    using GetBitmapFunction = cv::Mat* (V::*)();

    explicit VisualizerBase(D* debuggee) : m_debuggee(debuggee) {}

    std::vector<std::string> PicturesList() const override { return m_pictures; }
    std::vector<std::string> BitmapsList() const override { return m_bitmaps; }
    // The bitmap names, kept by the visualiser.
    const std::vector<std::string>& BitmapNames() const { return m_bitmaps; }

    bool IsPictureFullScreen(const std::string& picture) const override
    {
        const auto found = m_draw_functions.find(picture);
        return found != m_draw_functions.end() && found->second.full_screen;
    }

    void DrawOn(IDraw* surface, const std::string& picture) override
    {
        const auto found = m_draw_functions.find(picture);
        if (found != m_draw_functions.end() && found->second.draw)
            found->second.draw(surface);
    }

    cv::Mat* GetDebugBitmap(const std::string& bitmap) override
    {
        const auto found = m_bitmap_functions.find(bitmap);
        if (found == m_bitmap_functions.end())
            return nullptr;
        return (static_cast<V*>(this)->*found->second)();
    }

protected:
    void AddDrawFunction(const std::string& picture, std::function<void(IDraw*)> draw, bool full_screen = false)
    {
        if (m_draw_functions.find(picture) == m_draw_functions.end())
            m_pictures.push_back(picture);
        m_draw_functions[picture] = DrawFunctionRec{std::move(draw), full_screen};
    }

    void AddGetBitmapFunction(const std::string& bitmap, GetBitmapFunction function)
    {
        m_bitmaps.push_back(bitmap);
        m_bitmap_functions[bitmap] = function;
    }

    // The address of a picture the debuggee keeps.
    cv::Mat* GetBitmapFromDebugee(cv::Mat D::*member) const { return &(m_debuggee->*member); }
    template <std::size_t K>
    cv::Mat* GetBitmapFromDebugeeArray(std::array<cv::Mat, K> D::*member, std::size_t index) const
    {
        return index < K ? &(m_debuggee->*member)[index] : nullptr;
    }

    D* Debuggee() const { return m_debuggee; }

private:
    std::vector<std::string> m_pictures;
    std::vector<std::string> m_bitmaps;
    std::map<std::string, DrawFunctionRec> m_draw_functions;
    std::map<std::string, GetBitmapFunction> m_bitmap_functions;
    D* m_debuggee;  // the block shown; owns this visualiser's pictures
};

}  // namespace DebugDraw
}  // namespace BlockEntities
