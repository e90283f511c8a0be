#include "application/runtime/file_error_handler.h"

#include <fstream>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

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

TEST_F(FileErrorHandlerTest, DirectoryThatCannotBeMadeThrows)
{
    std::ofstream(fs::path(m_root / "plain").string()) << "x";
    FileErrorHandler::SetErrorFileDirectory((m_root / "plain" / "errors").string());
    EXPECT_THROW(FileErrorHandler::SetError("db_error"), fs::filesystem_error);
}

}  // namespace
