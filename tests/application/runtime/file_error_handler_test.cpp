#include "application/runtime/file_error_handler.h"

#include <fstream>
#include <string>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace {

namespace fs = boost::filesystem;

class FileErrorHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() / fs::unique_path("flowtally-errors-%%%%%%%%");
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path m_root;
};

TEST_F(FileErrorHandlerTest, SetErrorCreatesMissingDirectoriesAndEmptyMarker)
{
    const fs::path dir = m_root / "run" / "errors";
    FileErrorHandler::SetErrorFileDirectory(dir.string());
    FileErrorHandler::SetError("db_error");
    ASSERT_TRUE(fs::is_regular_file(dir / "db_error"));
    EXPECT_EQ(fs::file_size(dir / "db_error"), 0u);
}

TEST_F(FileErrorHandlerTest, SetErrorTruncatesExistingMarker)
{
    FileErrorHandler::SetErrorFileDirectory(m_root.string());
    std::ofstream(fs::path(m_root / "angle_error").string()) << "stale content";
    FileErrorHandler::SetError<FileErrorHandler::kAngleError>();
    EXPECT_EQ(fs::file_size(m_root / "angle_error"), 0u);
}

TEST_F(FileErrorHandlerTest, ClearErrorRemovesMarkerAndToleratesAbsence)
{
    const fs::path dir = m_root / "new";
    FileErrorHandler::SetErrorFileDirectory(dir.string());
    FileErrorHandler::ClearError<FileErrorHandler::kAngleError>();
    EXPECT_TRUE(fs::is_directory(dir));

    FileErrorHandler::SetError<FileErrorHandler::kAngleError>();
    ASSERT_TRUE(fs::exists(dir / "angle_error"));
    FileErrorHandler::ClearError<FileErrorHandler::kAngleError>();
    EXPECT_FALSE(fs::exists(dir / "angle_error"));
}

int WarningsAbout(const testing_support::LogCapture& log, const std::string& marker)
{
    int count = 0;
    for (const std::string& line : log.Lines())
        count += line.rfind("[error_files, warning] Error marker " + marker + " can not be changed: ", 0) == 0;
    return count;
}

TEST_F(FileErrorHandlerTest, UnusableDirectoryIsOneWarningPerMarkerAndNeverThrows)
{
    testing_support::LogCapture log;
    const fs::path plain = m_root / "plain";
    std::ofstream(plain.string()) << "x";
    FileErrorHandler::SetErrorFileDirectory((plain / "errors").string());
    for (int i = 0; i < 3; ++i) {
        EXPECT_NO_THROW(FileErrorHandler::SetError("db_error"));
        EXPECT_NO_THROW(FileErrorHandler::ClearError<FileErrorHandler::kAngleError>());
        EXPECT_NO_THROW(FileErrorHandler::SetError<FileErrorHandler::kAngleError>());
    }
    EXPECT_EQ(WarningsAbout(log, "db_error"), 1);
    EXPECT_EQ(WarningsAbout(log, "angle_error"), 1);

    // Once the marker works again, a new failure is worth a new warning.
    FileErrorHandler::SetErrorFileDirectory(m_root.string());
    FileErrorHandler::SetError("db_error");
    EXPECT_TRUE(fs::exists(m_root / "db_error"));
    FileErrorHandler::SetErrorFileDirectory((plain / "errors").string());
    FileErrorHandler::SetError("db_error");
    EXPECT_EQ(WarningsAbout(log, "db_error"), 2);
    EXPECT_EQ(WarningsAbout(log, "angle_error"), 1);
}

}  // namespace
