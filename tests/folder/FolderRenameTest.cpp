#include "folder/FolderProcessor.h"
#include "support/FileSystems.h"

#include <gtest/gtest.h>


using namespace fixtures;

namespace {

TEST(FolderRename, RenamesWithinTheParentAndNeverReplacesASibling) {
    TempDir dir;
    fs::create_directories(dir / "12" / "inner");
    writeBytes(dir / "12" / "inner" / "a.JPG", "x");
    const auto renamed = FolderProcessor::renameDirectory(dir / "12" / "", QStringLiteral("12 玉琮 良渚"));
    ASSERT_TRUE(renamed);
    EXPECT_EQ(*renamed, dir / "12 玉琮 良渚");
    EXPECT_TRUE(fs::exists(dir / "12 玉琮 良渚" / "inner" / "a.JPG"));
    EXPECT_FALSE(fs::exists(dir / "12"));

    // A sibling that already carries the name stays untouched, and so does the folder.
    fs::create_directories(dir / "taken");
    writeBytes(dir / "taken" / "keep.txt", "sibling");
    EXPECT_EQ(FolderProcessor::renameDirectory(*renamed, QStringLiteral("taken")), std::nullopt);
    EXPECT_TRUE(fs::exists(dir / "taken" / "keep.txt"));
    EXPECT_TRUE(fs::exists(dir / "12 玉琮 良渚" / "inner" / "a.JPG"));
    // An empty folder of that name is not replaced either.
    fs::create_directories(dir / "empty");
    EXPECT_EQ(FolderProcessor::renameDirectory(*renamed, QStringLiteral("empty")), std::nullopt);

    for (const char* bad : {"", ".", "..", "a/b"})
        EXPECT_EQ(FolderProcessor::renameDirectory(*renamed, QString::fromUtf8(bad)), std::nullopt) << bad;
    EXPECT_TRUE(fs::exists(dir / "12 玉琮 良渚"));
}

TEST(FolderRename, ARelativePathRenamesTheRightFolder) {
    TempDir dir;
    fs::create_directories(dir / "x");
    const fs::path cwd = fs::current_path();
    fs::current_path(dir / "x");
    const auto renamed = FolderProcessor::renameDirectory(".", QStringLiteral("y"));
    fs::current_path(cwd);
    ASSERT_TRUE(renamed);
    EXPECT_TRUE(fs::is_directory(dir / "y"));
}

} // namespace
