#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

// The stereo analyser on a rendered 144x108 scene, its parameters read from the scene's parameter
// file and further lines of its own section, its log recorded.
struct RenderedStereoCounter {
    explicit RenderedStereoCounter(const std::string& own_lines, const char* person = nullptr)
    {
        scene.rig.width = 144;
        scene.rig.height = 108;
        scene.rig.focal = 90.0;
        if (person)
            scene.people.push_back(scene::ParsePerson(person));
        counter.GetModifiableContext().SetName("StereoPeopleCounter");
        BlockEntities::TraverseSetContexts(&counter);
        BlockEntities::Traverse<BlockEntities::IDebuggable>(
            &counter, [this](BlockEntities::IDebuggable* block, const BlockEntities::Context&) {
                block->SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr));
            });
        const std::string ini = dir.Write("algo.ini", scene::AlgoIni(scene) + "[StereoPeopleCounter]\n" + own_lines);
        ParamsLib::load_parameters(ini.c_str(), 0, &counter, log);
        counter.InitFromParams();
    }

    // Pair number `frame` + 1.
    void Process(int frame, bool debug = false)
    {
        counter.ProcessStereoPair(renderer.RenderView(frame, 0), renderer.RenderView(frame, 1), debug,
                                  400000LL * frame);
    }

    int LoggedLines(KIVLogLevel level, const std::string& part) const
    {
        int count = 0;
        for (const RecordingLog::Line& line : log->lines)
            count += line.level == level && line.text.find(part) != std::string::npos;
        return count;
    }

    scene::Scene scene;
    scene::Renderer renderer{scene};
    TempIniDir dir;
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
    stereo::StereoPeopleCounter counter;
};

// The working directory of a scope (marking videos are written there).
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::string& path) : m_previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(path);
    }
    ~ScopedWorkingDirectory() { std::filesystem::current_path(m_previous); }
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

private:
    std::filesystem::path m_previous;
};
