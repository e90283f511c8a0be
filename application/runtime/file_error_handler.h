#pragma once

#include <string>

// Error conditions reported to the device as empty marker files in one directory. Each raiser
// keeps its own rule: "angle_error" exists while the tilt is too large; "db_error", once raised,
// stands until something outside the service removes it.
class FileErrorHandler {
public:
    struct kAngleError {
        static constexpr const char* kName = "angle_error";
    };

    static void SetErrorFileDirectory(const std::string& directory);
    static const std::string& GetErrorFileDirectory() { return m_error_file_directory; }

    // Creates the directory with its parents, then creates (or truncates) the marker file.
    // Markers never stop the service: a directory or file that cannot be made or removed is
    // logged as one warning per marker (again only after the marker has worked in between).
    // Any thread.
    static void SetError(const std::string& name);
    // Creates the directory with its parents, then removes the marker; a missing one is no error.
    static void ClearError(const std::string& name);

    template <typename Tag>
    static void SetError()
    {
        SetError(Tag::kName);
    }

    template <typename Tag>
    static void ClearError()
    {
        ClearError(Tag::kName);
    }

private:
    static std::string m_error_file_directory;
};
