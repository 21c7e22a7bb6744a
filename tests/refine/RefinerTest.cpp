#include "refine/FeaturePrintRefiner.h"
#include "support/RefineFixtures.h"

#include <gtest/gtest.h>

using namespace refinetest;
using namespace FeaturePrintRefiner;
using fixtures::TempDir;

namespace {

std::vector<std::string> packNames(const std::optional<std::vector<MediaPipeline::WorkUnit>>& pack) {
    std::vector<std::string> out;
    if (pack)
        for (const auto& unit : *pack)
            out.push_back(unit.primary.fileName.toStdString());
    return out;
}

} // namespace

TEST(Refiner, ExhibitFoldersSortByNumberThenTitleLeavingOutPanelOtherAndHidden) {
    TempDir dir;
    // Leading ASCII digits are the number (spaces and ideographic spaces around the title trimmed);
    // full-width digits, a numeric letter or a number past the largest sort last, by title.
    for (const char* name : {"2 甲", "10 乙", "2 丙", "无编号", "0 展板", "11 其他", "其他", ".缓存",
                             "３ 全角", "\u30007 璧", "12青铜", "Ⅻ 丙", "99999999999999999999 溢出"})
        fs::create_directory(dir / name);
    fixtures::writeBytes(dir / "1 文件", "a file, not a folder");
    fs::create_directory_symlink(dir / "2 甲", dir / "4 链接");
    std::vector<std::string> names;
    for (const auto& folder : relicFolders(dir.path()))
        names.push_back(folder.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"2 丙", "2 甲", "\u30007 璧", "10 乙", "12青铜", "Ⅻ 丙",
                                               "３ 全角", "无编号", "99999999999999999999 溢出"}));
    EXPECT_TRUE(relicFolders(dir / "missing").empty());
}

TEST(Refiner, TheLabelIsTheSidecarStemElseTheLatestPhotoEarliestAmongTies) {
    TempDir dir;
    // With a sidecar the label is the card even though later photographs exist; those are not in
    // the pack.
    writeFolder(dir / "a",
                {{"IMG_0098.JPG", 1, {1}},
                 {"IMG_0099.JPG", 2, {1}},
                 {"IMG_0100.HEIC", 3, {1}},
                 {"IMG_0101.JPG", 4, {1}},
                 {"IMG_0102.JPG", 5, {1}},
                 {"V.MOV", 2, {1}}},
                "IMG_0100");
    QStringList lines;
    EXPECT_EQ(packNames(loadPack(dir / "a", collect(lines))),
              (std::vector<std::string>{"IMG_0098.JPG", "IMG_0099.JPG"}));
    // Without sidecars the latest photograph (not the later video) is the label; of two equally
    // late ones, the first in capture order.
    writeFolder(dir / "b",
                {{"x1.JPG", 1, {1}}, {"x3.JPG", 5, {1}}, {"x2.JPG", 5, {1}}, {"clip.MP4", 9, {1}}});
    EXPECT_EQ(packNames(loadPack(dir / "b", collect(lines))), (std::vector<std::string>{"x1.JPG", "x3.JPG"}));
    // Only videos: no label; nothing at all: no media.
    writeFolder(dir / "d", {{"v1.MOV", 1, {1}}});
    fs::create_directory(dir / "e");
    EXPECT_FALSE(loadPack(dir / "d", collect(lines)));
    EXPECT_FALSE(loadPack(dir / "e", collect(lines)));
    EXPECT_EQ(lines, (QStringList{QStringLiteral("  [警告] d 找不到标签图"),
                                  QStringLiteral("  [警告] e 没有可处理图片")}));
}

TEST(Refiner, MovesStrictlyNearerPhotosBackAndKeepsTies) {
    TempDir dir;
    const auto& root = dir.path();
    writeFolder(root / "1 甲",
                {{"a1.JPG", 1, {1, 0, 0}}, {"a2.JPG", 2, {1, 0, 0.1f}}, {"L1.JPG", 3, {0, 0, 1}}}, "L1");
    // b0 was shot right after L1: it belongs to 甲. bt is exactly as near to 甲's sample a1 as to the
    // anchor b2, so it stays.
    writeFolder(root / "2 乙",
                {{"b0.JPG", 4, {1, 0.05f, 0}},
                 {"bt.JPG", 5, {1, 1, 0}},
                 {"b2.JPG", 6, {0, 1, 0}},
                 {"L2.JPG", 7, {0, 0, 1}}},
                "L2");
    fixtures::writeBytes(root / "2 乙" / "b0.CR3", "raw of b0");
    fixtures::setModified(root / "2 乙" / "b0.CR3", at(4));
    writeFolder(root / "3 丙",
                {{"c1.JPG", 8, {0, 1, 0.02f}}, {"c2.JPG", 9, {0, 0, 1}}, {"L3.JPG", 10, {1, 1, 1}}}, "L3");

    QStringList lines;
    const RunResult result = refine(root, core::logOnly(collect(lines)), {fakePrint});
    EXPECT_EQ(lines,
              QStringList({"对比：1 甲 ← 2 乙", "  本夹样本 a1.JPG, a2.JPG", "  下一夹锚点 b2.JPG（不搬）",
                           "  [搬回] b0.JPG dA=0.050 dB=1.378（更像本夹，2 个文件）",
                           "  [留下] bt.JPG dA=0.765 dB=0.765（更像下一夹或一样近）",
                           // The next pair reads 乙 again: b0 has left it.
                           "对比：2 乙 ← 3 丙", "  本夹样本 bt.JPG, b2.JPG", "  下一夹锚点 c2.JPG（不搬）",
                           "  [搬回] c1.JPG dA=0.020 dB=1.400（更像本夹，1 个文件）",
                           "FeaturePrint 后处理结束。移动 3 个文件，错误 0 条。"}));
    EXPECT_EQ(result.moves, (std::vector<MoveRecord>{{root / "2 乙" / "b0.JPG", root / "1 甲" / "b0.JPG"},
                                                     {root / "2 乙" / "b0.CR3", root / "1 甲" / "b0.CR3"},
                                                     {root / "3 丙" / "c1.JPG", root / "2 乙" / "c1.JPG"}}));
}

TEST(Refiner, AMoveChoosesFreeNamesAtTheDestinationEveryTime) {
    TempDir dir;
    const auto& root = dir.path();
    writeFolder(root / "A", {{"IMG_1.JPG", 1, {1}}});
    writeFolder(root / "B", {{"IMG_1.JPG", 2, {1}}, {"IMG_1.CR3", 2, {1}}});
    writeFolder(root / "C", {{"IMG_1.JPG", 3, {1}}, {"IMG_1.CR3", 3, {1}}});
    auto unitOf = [](const fs::path& folder) {
        return MediaPipeline::buildWorkUnits(ImageScanner::scanFolder(folder)->images).front();
    };
    const auto unitB = unitOf(root / "B");
    const auto unitC = unitOf(root / "C");
    ASSERT_EQ(unitB.companions.size(), 1u);
    QStringList lines, errors;
    // The JPEG collides; its RAW companion is free under its own name.
    EXPECT_EQ(moveUnit(unitB, root / "A", collect(lines), errors),
              (std::vector<MoveRecord>{{root / "B" / "IMG_1.JPG", root / "A" / "IMG_1-2.JPG"},
                                       {root / "B" / "IMG_1.CR3", root / "A" / "IMG_1.CR3"}}));
    // The second unit sees what the first brought. Its companion vanished after the scan: the
    // name is reserved all the same, the file is skipped and not counted.
    fs::remove(root / "C" / "IMG_1.CR3");
    EXPECT_EQ(moveUnit(unitC, root / "A", collect(lines), errors),
              (std::vector<MoveRecord>{{root / "C" / "IMG_1.JPG", root / "A" / "IMG_1-3.JPG"}}));
    EXPECT_EQ(lines, QStringList{QStringLiteral("  [跳过] 源文件不存在：IMG_1.CR3")});
    EXPECT_TRUE(errors.isEmpty());
}

TEST(Refiner, UndoReportsEachFailureFormAndKeepsRetriableRecordsInPassOrder) {
    TempDir dir;
    const auto& root = dir.path();
    for (const char* folder : {"A", "B", "C"})
        fs::create_directory(root / folder);
    // 1: restored under its old name. 2: the moved file is gone (dropped). 3: its old folder is
    // gone (kept). 4: its old place is taken by a new file (kept, the newcomer untouched). 5: put
    // back already by an undo stopped before it could write that down.
    fixtures::writeBytes(root / "A" / "IMG_1-2.JPG", "one");
    fixtures::writeBytes(root / "A" / "three.JPG", "three");
    fixtures::writeBytes(root / "A" / "four.JPG", "four");
    fixtures::writeBytes(root / "C" / "four.JPG", "newcomer");
    fixtures::writeBytes(root / "B" / "five.JPG", "five");
    const std::vector<MoveRecord> moves{{root / "B" / "IMG_1.JPG", root / "A" / "IMG_1-2.JPG"},
                                        {root / "B" / "two.JPG", root / "A" / "two.JPG"},
                                        {root / "gone" / "three.JPG", root / "A" / "three.JPG"},
                                        {root / "C" / "four.JPG", root / "A" / "four.JPG"},
                                        {root / "B" / "five.JPG", root / "A" / "five.JPG"}};
    QStringList lines;
    const UndoResult result = undo(moves, collect(lines));
    EXPECT_EQ(
        lines,
        QStringList({"  [撤销] five.JPG → B/（已在原处）", "[失败] 撤销失败 four.JPG：目标已存在：four.JPG",
                     "[失败] 撤销失败（原文件夹不存在）：gone", "[警告] 撤销跳过（目标已不在）：two.JPG",
                     "  [撤销] IMG_1-2.JPG → B/", "撤销结束。恢复 2 个文件，剩余 2 条，错误 3 条。"}));
    EXPECT_EQ(result.remaining, (std::vector<MoveRecord>{moves[2], moves[3]}));
    EXPECT_EQ(result.errors, (QStringList{lines[1].mid(5), lines[2].mid(5), lines[3].mid(5)})); // no prefix
    EXPECT_TRUE(fs::exists(root / "B" / "IMG_1.JPG"));
    EXPECT_EQ(fixtures::readFile(root / "C" / "four.JPG"), "newcomer");
}
