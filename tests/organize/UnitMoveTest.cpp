#include "organize/UnitMove.h"
#include "organize/AutoOrganizer.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <set>

using namespace fixtures;
using AutoOrganizer::FileMove;

namespace {

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (!e.is_directory()) out.insert(fs::relative(e.path(), dir).string());
    return out;
}

TEST(UnitMove, EditSidecarsFollowTheirPhotoUnderItsNewName) {
    TempDir dir;
    const auto& d = dir.path();
    fs::create_directory(d / "out");
    for (const char* name :
         {"IMG_0457.JPG", "IMG_0457.CR3", "IMG_0457.xmp", "IMG_0457.Xmp", "IMG_0457.CR3.xmp", "IMG_0457.AAE",
          "img_0457.xmp", "IMG_0457.txt", "IMG_0457.JPG.pp3", "IMG_04570.xmp"})
        writeBytes(d / name, name);
    std::vector<std::pair<size_t, std::optional<QString>>> told;
    QStringList lines, errors;
    const int moved = AutoOrganizer::moveUnit(
        {{d / "IMG_0457.JPG", d / "out" / "玉琮 0457.JPG"},
         {d / "IMG_0457.CR3", d / "out" / "玉琮 0457.CR3"}},
        [&](size_t i, const std::optional<QString>& e) { told.emplace_back(i, e); },
        [&](const QString& l) { lines << l; }, errors);
    EXPECT_EQ(moved, 2); // sidecars are not counted
    EXPECT_EQ(told,
              (std::vector<std::pair<size_t, std::optional<QString>>>{{0, std::nullopt}, {1, std::nullopt}}));
    EXPECT_TRUE(lines.isEmpty());
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(listing(d),
              (std::set<std::string>{"out/玉琮 0457.JPG", "out/玉琮 0457.CR3", "out/玉琮 0457.xmp",
                                     "out/玉琮 0457.Xmp", "out/玉琮 0457.CR3.xmp", "out/玉琮 0457.AAE",
                                     // Not sidecars of these photos: another stem, another kind of file.
                                     "img_0457.xmp", "IMG_0457.txt", "IMG_0457.JPG.pp3", "IMG_04570.xmp"}));
    EXPECT_EQ(told.size(), 2u);
}

TEST(UnitMove, ASidecarThatCannotFollowStaysWithAWarning) {
    TempDir dir;
    const auto& d = dir.path();
    for (const char* name : {"A_1.JPG", "A_1.xmp", "A_1.JPG.xmp", "T 1.xmp", "B_2.JPG", "B_2.aae", "T 2.JPG"})
        writeBytes(d / name, name);
    QStringList lines, errors;
    const int moved = AutoOrganizer::moveUnit(
        {{d / "A_1.JPG", d / "T 1.JPG"}}, {}, [&](const QString& l) { lines << l; }, errors);
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(lines, QStringList({"[警告] 编辑附属文件未跟随移动 A_1.xmp：目标已存在：T 1.xmp"}));
    EXPECT_EQ(errors, QStringList({"编辑附属文件未跟随移动 A_1.xmp：目标已存在：T 1.xmp"}));
    // The occupant is untouched; the other sidecar followed.
    EXPECT_EQ(listing(d), (std::set<std::string>{"T 1.JPG", "A_1.xmp", "T 1.JPG.xmp", "T 1.xmp", "B_2.JPG",
                                                 "B_2.aae", "T 2.JPG"}));

    // A photo that cannot move keeps its sidecars beside it.
    lines.clear();
    errors.clear();
    std::optional<QString> told;
    EXPECT_EQ(AutoOrganizer::moveUnit(
                  {{d / "B_2.JPG", d / "T 2.JPG"}},
                  [&](size_t, const std::optional<QString>& e) { told = e; },
                  [&](const QString& l) { lines << l; }, errors),
              0);
    EXPECT_EQ(told, QStringLiteral("目标已存在：T 2.JPG"));
    EXPECT_TRUE(fs::exists(d / "B_2.aae"));
    EXPECT_TRUE(lines.isEmpty());
}

} // namespace

namespace {

TEST(UnitMove, OrganizeTakesSidecarsIntoTheExhibitFolderWithoutCountingThem) {
    TempDir dir;
    const auto& d = dir.path();
    for (const char* name :
         {"IMG_0100.JPG", "IMG_0100.CR3", "IMG_0100.XMP", "IMG_0100.CR3.xmp", "IMG_0100.aae"})
        writeBytes(d / name, name);
    const std::vector<AutoOrganizer::PlannedGroup> groups = {
        {"1 鼎",
         {ImageScanner::processImageFile(d / "IMG_0100.JPG"),
          ImageScanner::processImageFile(d / "IMG_0100.CR3")},
         std::nullopt,
         false,
         false}};
    QStringList lines, errors;
    const auto result =
        AutoOrganizer::executeMoves(d, groups, core::logOnly([&](const QString& l) { lines << l; }), errors);
    EXPECT_EQ(result.moved, 2);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(listing(d),
              (std::set<std::string>{"1 鼎/IMG_0100.JPG", "1 鼎/IMG_0100.CR3", "1 鼎/IMG_0100.XMP",
                                     "1 鼎/IMG_0100.CR3.xmp", "1 鼎/IMG_0100.aae"}));
}

} // namespace
