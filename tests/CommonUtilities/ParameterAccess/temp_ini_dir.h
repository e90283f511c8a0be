#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

// A fresh temporary directory for INI files, removed with everything in it.
class TempIniDir {
public:
    TempIniDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "flowtally-ini-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary directory");
        m_path = pattern;
    }
    ~TempIniDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempIniDir(const TempIniDir&) = delete;
    TempIniDir& operator=(const TempIniDir&) = delete;

    // Writes a file into the directory and returns its path.
    std::string Write(const std::string& name, const std::string& content) const
    {
        const std::string path = (m_path / name).string();
        std::ofstream(path, std::ios_base::binary) << content;
        return path;
    }
    std::string PathOf(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};
