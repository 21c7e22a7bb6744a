#include "folder/FolderProcessor.h"
#include "support/FileSystems.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using namespace fixtures;

namespace {

TEST(FolderRename, RenamesWithinTheParentOrSaysWhyNot) {
    TempDir dir;
    fs::create_directories(dir / "12" / "inner");
    writeBytes(dir / "12" / "inner" / "a.JPG", "x");
    const auto renamed = FolderProcessor::renameDirectory(dir / "12" / "", QStringLiteral("12 玉琮 良渚"));
    ASSERT_TRUE(renamed);
    EXPECT_EQ(*renamed, dir / "12 玉琮 良渚");
    EXPECT_TRUE(fs::exists(dir / "12 玉琮 良渚" / "inner" / "a.JPG"));
    EXPECT_FALSE(fs::exists(dir / "12"));

    // A sibling that already carries the name stays untouched, even empty, and so does the folder.
    fs::create_directories(dir / "taken");
    EXPECT_EQ(FolderProcessor::renameDirectory(*renamed, QStringLiteral("taken")), std::nullopt);
    EXPECT_TRUE(fs::is_empty(dir / "taken") && fs::exists(dir / "12 玉琮 良渚" / "inner" / "a.JPG"));

    for (const char* bad : {"", ".", "..", "a/b"}) { // refused as names, never tried
        int error = 0;
        EXPECT_EQ(FolderProcessor::renameDirectory(*renamed, QString::fromUtf8(bad), &error), std::nullopt)
            << bad;
        EXPECT_EQ(error, EINVAL) << bad;
    }
    EXPECT_TRUE(fs::exists(dir / "12 玉琮 良渚"));

    // A relative path renames the folder it names.
    const fs::path cwd = fs::current_path();
    fs::current_path(*renamed);
    const auto relative = FolderProcessor::renameDirectory(".", QStringLiteral("y"));
    fs::current_path(cwd);
    EXPECT_EQ(relative, dir / "y");
    EXPECT_TRUE(fs::exists(dir / "y" / "inner" / "a.JPG"));

    // A failure says its cause: only a missing write permission is told as one; any other cause
    // in the system's words.
    const struct {
        int error;
        QString text;
    } cases[] = {
        {EACCES, "重命名文件夹失败：没有上级目录「展厅」的写入权限"},
        {EROFS, "重命名文件夹失败：没有上级目录「展厅」的写入权限"},
        {EBUSY, "重命名文件夹失败：" + QString::fromLocal8Bit(std::strerror(EBUSY))},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FolderProcessor::renameFolderFailure(c.error, QStringLiteral("展厅")), c.text) << c.error;

    // The cause comes from the rename itself: a name too long for the file system.
    fs::create_directories(dir / "hall" / "12");
    int error = 0;
    EXPECT_EQ(FolderProcessor::renameDirectory(dir / "hall" / "12", QString(300, QChar(u'玉')), &error),
              std::nullopt);
    EXPECT_EQ(error, ENAMETOOLONG);
    // A folder gone by the time it is renamed.
    QStringList errors;
    const fs::path gone = dir / "hall" / "13";
    EXPECT_EQ(FolderProcessor::renameFolder(
                  gone, QStringLiteral("玉琮"), [](const QString&) {}, errors),
              gone);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "重命名文件夹失败：" + QString::fromLocal8Bit(std::strerror(ENOENT)));
}

} // namespace
