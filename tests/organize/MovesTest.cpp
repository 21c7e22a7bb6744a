// Every file move of a run: the one safe move, a photo with its edit sidecars, and a plan carried
// out into exhibit folders. Nothing is ever overwritten or lost.

#include "organize/AutoOrganizer.h"
#include "organize/UnitMove.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <set>

using namespace fixtures;
using AutoOrganizer::PlannedGroup;

namespace {

ImageScanner::ImageInfo file(const fs::path& dir, const std::string& name, const std::string& content = {}) {
    writeBytes(dir / name, content.empty() ? "bytes of " + name : content);
    return ImageScanner::processImageFile(dir / name);
}

PlannedGroup group(const QString& name, std::vector<ImageScanner::ImageInfo> files,
                   std::optional<RelicLabelExtracted> label = {}, bool panel = false) {
    return {name, std::move(files), std::move(label), panel, false};
}

/// Every file below dir (links included, folders not).
std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (!e.is_directory()) out.insert(e.path().lexically_relative(dir).string());
    return out;
}

/// System calls with the first renameNoReplace answering `firstErrno` (0: the real call).
platform::MoveOps opsFailingFirstRename(int firstErrno, int secondErrno = 0) {
    auto calls = std::make_shared<int>(0);
    platform::MoveOps ops = platform::MoveOps::system();
    const auto real = ops.renameNoReplace;
    ops.renameNoReplace = [=](const char* a, const char* b) {
        const int call = ++*calls;
        const int fake = call == 1 ? firstErrno : call == 2 ? secondErrno : 0;
        if (fake) {
            errno = fake;
            return -1;
        }
        return real(a, b);
    };
    return ops;
}

} // namespace

TEST(Moves, TheSafeMoveNeverReplacesAndSurvivesEveryFallback) {
    struct Case {
        const char* name;
        platform::MoveOps ops;
        bool occupied;
        std::optional<QString> error; // absent: success
        int unlinkErrno = 0;          // how removing the source after a copy or link fails
    };
    const std::vector<Case> cases = {
        {"same file system", platform::MoveOps::system(), false, std::nullopt},
        {"destination taken", platform::MoveOps::system(), true, QStringLiteral("目标已存在：b.jpg")},
        {"across file systems", opsFailingFirstRename(EXDEV), false, std::nullopt},
        {"across file systems, name taken meanwhile", opsFailingFirstRename(EXDEV, EEXIST), false,
         QStringLiteral("目标已存在：b.jpg")},
        {"no RENAME_NOREPLACE: hard link", opsFailingFirstRename(EINVAL), false, std::nullopt},
        // A source that vanishes after the copy leaves the copy in place; one that stays is kept.
        {"copy, source gone meanwhile", opsFailingFirstRename(EXDEV), false, std::nullopt, ENOENT},
        {"copy, source cannot be removed", opsFailingFirstRename(EXDEV), false,
         QStringLiteral("无法移动（Permission denied）"), EACCES},
        {"hard link, source cannot be removed", opsFailingFirstRename(EINVAL), false,
         QStringLiteral("无法移动（Permission denied）"), EACCES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directory(dir / "to");
        writeBytes(dir / "a.jpg", "photo bytes");
        if (c.occupied) writeBytes(dir / "to" / "b.jpg", "occupant");
        platform::MoveOps ops = c.ops;
        const fs::path source = dir / "a.jpg";
        if (c.unlinkErrno)
            ops.unlink = [&](const char* path) {
                if (fs::path(path) != source) return ::unlink(path);
                if (c.unlinkErrno == ENOENT) ::unlink(path); // someone else took it away
                errno = c.unlinkErrno;
                return -1;
            };
        EXPECT_EQ(AutoOrganizer::safeMoveItem(source, dir / "to" / "b.jpg", ops), c.error);
        // Every file afterwards, temporaries included: the photo moved whole, or nothing changed.
        std::map<std::string, std::string> files, expected{{"a.jpg", "photo bytes"}};
        for (const std::string& name : listing(dir.path()))
            files[name] = readFile(dir / name);
        if (!c.error) expected = {{"to/b.jpg", "photo bytes"}};
        if (c.occupied) expected["to/b.jpg"] = "occupant";
        EXPECT_EQ(files, expected);
    }

    // Folders move too, and are never linked over one that is there.
    TempDir dir;
    fs::create_directory(dir / "x.jpg");
    EXPECT_EQ(AutoOrganizer::safeMoveItem(dir / "x.jpg", dir / "y.jpg"), std::nullopt);
    EXPECT_TRUE(fs::is_directory(dir / "y.jpg"));
    fs::create_directory(dir / "z.jpg");
    EXPECT_EQ(AutoOrganizer::safeMoveItem(dir / "z.jpg", dir / "y.jpg", opsFailingFirstRename(EINVAL)),
              QStringLiteral("目标已存在：y.jpg"));
    EXPECT_TRUE(AutoOrganizer::safeMoveItem(dir / "nope.jpg", dir / "w.jpg")->startsWith("无法移动（"));
}

TEST(Moves, EditSidecarsFollowTheirPhotoUnderItsNewName) {
    TempDir dir;
    const auto& d = dir.path();
    fs::create_directory(d / "out");
    for (const char* name :
         {"IMG_0457.JPG", "IMG_0457.CR3", "IMG_0457.xmp", "IMG_0457.Xmp", "IMG_0457.CR3.xmp", "IMG_0457.AAE",
          "img_0457.xmp", "IMG_0457.txt", "IMG_0457.JPG.pp3", "IMG_04570.xmp"})
        writeBytes(d / name, name);
    fs::create_directory(d / "IMG_0457.aae"); // a folder named like a sidecar is no sidecar
    using Told = std::vector<std::pair<size_t, std::optional<QString>>>;
    Told told;
    QStringList lines, errors;
    const int moved = AutoOrganizer::moveUnit(
        {{d / "IMG_0457.JPG", d / "out" / "玉琮 0457.JPG"},
         {d / "IMG_0457.CR3", d / "out" / "玉琮 0457.CR3"}},
        [&](size_t i, const std::optional<QString>& e) { told.emplace_back(i, e); },
        [&](const QString& l) { lines << l; }, errors);
    EXPECT_EQ(moved, 2); // sidecars are not counted
    EXPECT_EQ(told, (Told{{0, std::nullopt}, {1, std::nullopt}}));
    EXPECT_TRUE(lines.isEmpty() && errors.isEmpty());
    EXPECT_EQ(listing(d),
              (std::set<std::string>{"out/玉琮 0457.JPG", "out/玉琮 0457.CR3", "out/玉琮 0457.xmp",
                                     "out/玉琮 0457.Xmp", "out/玉琮 0457.CR3.xmp", "out/玉琮 0457.AAE",
                                     // Not sidecars of these photos: another stem, another kind of file.
                                     "img_0457.xmp", "IMG_0457.txt", "IMG_0457.JPG.pp3", "IMG_04570.xmp"}));
    EXPECT_TRUE(fs::is_directory(d / "IMG_0457.aae"));
}

TEST(Moves, ExecuteCreatesFoldersWritesLabelFilesMovesEveryFileWithItsSidecarsAndOverwritesNothing) {
    TempDir dir;
    const auto& d = dir.path();
    fs::create_directory(d / "sub");
    writeBytes(d / "6 blocked", "a file where a folder should go");
    fs::create_directories(d / "5 again" / "IMG_0200.json"); // a folder where the label file should go
    writeBytes(d / "5 again/taken.jpg", "occupant");
    writeBytes(d / "IMG_0100.XMP", "edits");
    writeBytes(d / "IMG_0100.DNG.xmp", "raw edits");
    const RelicLabelExtracted fields{"鼎", "随州出土", "战国", "高 10 厘米"};
    std::vector<PlannedGroup> groups = {
        group("0 展板", {file(d, "P1.JPG"), file(d, "P1.CR3")}, std::nullopt, true),
        group("1 鼎 随州出土 战国", {file(d, "V0.MOV"), file(d, "IMG_0100.JPG"), file(d, "IMG_0100.DNG")},
              fields),
        group("2 未识别标签", {file(d, "L2.JPG")}),
        group("3 璧", {file(d, "C1.MOV"), file(d, "C2.MP4")}, RelicLabelExtracted{"璧", "", "", ""}),
        group("4 其他",
              {file(d, "sub/same.jpg", "first"), file(d, "same.jpg", "second"), file(d, "gone.jpg")}),
        // A second group of an existing name folds into the first.
        group("2 未识别标签", {file(d, "L2b.JPG")}),
        group("5 again", {file(d, "IMG_0200.JPG"), file(d, "taken.jpg", "newcomer")},
              RelicLabelExtracted{"璧", "", "", ""}),
        group("6 blocked", {file(d, "stays.jpg")}),
        group("..", {file(d, "dots.jpg")}),
    };
    fs::remove(d / "gone.jpg");
    // A relative link stays where it points; an absolute one still points at its target, and moves.
    TempDir other;
    writeBytes(other / "o.JPG", "elsewhere");
    writeBytes(d / "sub" / "x.JPG", "kept beside the shoot");
    fs::create_symlink("sub/x.JPG", d / "rel.JPG");
    fs::create_symlink(other / "o.JPG", d / "abs.JPG");
    for (const char* name : {"rel.JPG", "abs.JPG"})
        groups[0].files.push_back({d / name, name, std::nullopt, ImageScanner::ImageInfo::ImageType::jpg});
    // Our own stale temporaries go, in the planned folders only; nothing else of that look.
    fs::create_directories(d / "3 璧");
    const std::string dead = ".vitrino-tmp-999999999-3-12345"; // no such process
    for (const std::string& name :
         {dead, std::string(".vitrino-tmp-1-0-7"), std::string(".vitrino-tmp-notes.txt")})
        writeBytes(d / "3 璧" / name, "x"); // pid 1 always runs
    writeBytes(d / "sub" / dead, "x");
    QStringList lines, errors;
    EXPECT_EQ(
        AutoOrganizer::executeMoves(d, groups, core::logOnly([&](const QString& l) { lines << l; }), errors)
            .moved,
        13);
    const QStringList failures({"移动失败 taken.jpg：目标已存在：taken.jpg",
                                "创建文件夹失败 6 blocked：Not a directory",
                                "创建文件夹失败 ..：文件夹名称无效"});
    EXPECT_EQ(errors, failures);
    // Each failure is logged as it happens; an unwritable label file is a warning, not an error.
    QStringList expectedLines({core::warning(AutoOrganizer::kLinksLeftInPlace.arg(1).arg("rel.JPG")).shown(),
                               "创建：0 展板", "创建：1 鼎 随州出土 战国", "创建：2 未识别标签", "创建：3 璧",
                               "创建：4 其他", "[跳过] 源文件不存在：gone.jpg", "创建：5 again",
                               "[警告] 无法写入标签文件 IMG_0200.json：Is a directory"});
    for (const QString& failure : failures)
        expectedLines << core::failure(failure).shown();
    EXPECT_EQ(lines, expectedLines);
    EXPECT_TRUE(fs::is_symlink(d / "rel.JPG"));
    // Whatever stays or is not ours stays as it was.
    std::set<std::string> expected(
        {"rel.JPG", "sub/x.JPG", "sub/" + dead, "taken.jpg", "stays.jpg", "dots.jpg", "6 blocked"});
    for (const auto& [folder, names] : std::map<std::string, std::vector<std::string>>{
             {"0 展板", {"P1.JPG", "P1.CR3", "abs.JPG"}},
             {"1 鼎 随州出土 战国",
              {"V0.MOV", "IMG_0100.JPG", "IMG_0100.DNG", "IMG_0100.XMP", "IMG_0100.DNG.xmp", "IMG_0100.json",
               "IMG_0100.txt"}},
             {"2 未识别标签", {"L2.JPG", "L2b.JPG"}},
             {"3 璧",
              {"C1.MOV", "C2.MP4", "C1.json", "C1.txt", ".vitrino-tmp-1-0-7", ".vitrino-tmp-notes.txt"}},
             {"4 其他", {"same.jpg", "same-2.jpg"}},
             {"5 again", {"IMG_0200.JPG", "IMG_0200.txt", "taken.jpg"}}})
        for (const auto& name : names)
            expected.insert(fs::path(folder) / name);
    EXPECT_EQ(listing(d), expected);
    EXPECT_EQ(readFile(d / "4 其他/same.jpg"), "first");
    EXPECT_EQ(readFile(d / "4 其他/same-2.jpg"), "second");
    EXPECT_EQ(readFile(d / "5 again/taken.jpg"), "occupant");
    EXPECT_EQ(QByteArray::fromStdString(readFile(d / "1 鼎 随州出土 战国/IMG_0100.json")),
              *fields.toJSONString());
    EXPECT_EQ(QString::fromStdString(readFile(d / "1 鼎 随州出土 战国/IMG_0100.txt")),
              fields.toReadableTxt());
}
