#include "organize/AutoOrganizer.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>

using namespace fixtures;
using AutoOrganizer::PlannedGroup;

namespace {

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

ImageScanner::ImageInfo file(const fs::path& dir, const std::string& name, const std::string& content = {}) {
    writeBytes(dir / name, content.empty() ? "bytes of " + name : content);
    return ImageScanner::processImageFile(dir / name);
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        out.insert(fs::relative(e.path(), dir).string());
    return out;
}

} // namespace

TEST(ExecuteMoves, CreatesFoldersWritesSidecarsAndMovesEveryFile) {
    TempDir dir;
    const auto& d = dir.path();
    fs::create_directory(d / "sub");
    const RelicLabelExtracted fields{"鼎", "随州出土", "战国", "高 10 厘米"};
    const std::vector<PlannedGroup> groups = {
        {"0 展板", {file(d, "P1.JPG"), file(d, "P1.CR3")}, std::nullopt, true, false},
        {"1 鼎 随州出土 战国",
         {file(d, "V0.MOV"), file(d, "IMG_0100.JPG"), file(d, "IMG_0100.DNG")},
         fields,
         false,
         false},
        {"2 未识别标签", {file(d, "L2.JPG")}, std::nullopt, false, false},
        {"3 璧", {file(d, "C1.MOV"), file(d, "C2.MP4")}, RelicLabelExtracted{"璧", "", "", ""}, false, false},
        {"4 其他",
         {file(d, "sub/same.jpg", "first"), file(d, "same.jpg", "second"), file(d, "gone.jpg")},
         std::nullopt,
         false,
         false},
        // A second group of an existing name folds into the first.
        {"2 未识别标签", {file(d, "L2b.JPG")}, std::nullopt, false, false},
    };
    fs::remove(d / "gone.jpg");
    QStringList lines, errors;
    const int moved =
        AutoOrganizer::executeMoves(d, groups, core::logOnly([&](const QString& l) { lines << l; }), errors)
            .moved;
    EXPECT_EQ(moved, 11);
    EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
    EXPECT_EQ(lines, QStringList({"创建：0 展板", "创建：1 鼎 随州出土 战国", "创建：2 未识别标签",
                                  "创建：3 璧", "创建：4 其他", "[跳过] 源文件不存在：gone.jpg"}));
    EXPECT_EQ(listing(d), (std::set<std::string>{"0 展板",
                                                 "0 展板/P1.JPG",
                                                 "0 展板/P1.CR3",
                                                 "1 鼎 随州出土 战国",
                                                 "1 鼎 随州出土 战国/V0.MOV",
                                                 "1 鼎 随州出土 战国/IMG_0100.JPG",
                                                 "1 鼎 随州出土 战国/IMG_0100.DNG",
                                                 "1 鼎 随州出土 战国/IMG_0100.json",
                                                 "1 鼎 随州出土 战国/IMG_0100.txt",
                                                 "2 未识别标签",
                                                 "2 未识别标签/L2.JPG",
                                                 "2 未识别标签/L2b.JPG",
                                                 "3 璧",
                                                 "3 璧/C1.MOV",
                                                 "3 璧/C2.MP4",
                                                 "3 璧/C1.json",
                                                 "3 璧/C1.txt",
                                                 "4 其他",
                                                 "4 其他/same.jpg",
                                                 "4 其他/same-2.jpg",
                                                 "sub"}));
    EXPECT_EQ(read(d / "4 其他/same.jpg"), "first");
    EXPECT_EQ(read(d / "4 其他/same-2.jpg"), "second");
    EXPECT_EQ(QByteArray::fromStdString(read(d / "1 鼎 随州出土 战国/IMG_0100.json")),
              *fields.toJSONString());
    EXPECT_EQ(QString::fromStdString(read(d / "1 鼎 随州出土 战国/IMG_0100.txt")), fields.toReadableTxt());
}

TEST(ExecuteMoves, FailuresAreCollectedAndNothingIsOverwritten) {
    TempDir dir;
    const auto& d = dir.path();
    writeBytes(d / "2 blocked", "a file where a folder should go");
    fs::create_directory(d / "1 again");
    writeBytes(d / "1 again/taken.jpg", "occupant");
    const std::vector<PlannedGroup> groups = {
        {"1 again", {file(d, "taken.jpg", "newcomer"), file(d, "fresh.jpg")}, std::nullopt, false, false},
        {"2 blocked", {file(d, "stays.jpg")}, std::nullopt, false, false},
        {"..", {file(d, "dots.jpg")}, std::nullopt, false, false},
    };
    QStringList lines, errors;
    const int moved =
        AutoOrganizer::executeMoves(d, groups, core::logOnly([&](const QString& l) { lines << l; }), errors)
            .moved;
    EXPECT_EQ(moved, 1);
    ASSERT_EQ(errors.size(), 3);
    EXPECT_EQ(errors[0], QStringLiteral("移动失败 taken.jpg：目标已存在：taken.jpg"));
    EXPECT_TRUE(errors[1].startsWith(QStringLiteral("创建文件夹失败 2 blocked：")));
    EXPECT_EQ(errors[2], QStringLiteral("创建文件夹失败 ..：文件夹名称无效"));
    EXPECT_TRUE(lines.contains(QStringLiteral("[失败] ") + errors[0]));
    EXPECT_EQ(read(d / "1 again/taken.jpg"), "occupant");
    EXPECT_EQ(read(d / "taken.jpg"), "newcomer");
    EXPECT_TRUE(fs::exists(d / "stays.jpg"));
    EXPECT_TRUE(fs::exists(d / "dots.jpg"));
    EXPECT_TRUE(fs::exists(d / "1 again/fresh.jpg"));
}

namespace {

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

TEST(SafeMove, NeverReplacesAndSurvivesEveryFallback) {
    struct Case {
        const char* name;
        platform::MoveOps ops;
        bool occupied;
        std::optional<QString> error; // absent: success
    };
    const std::vector<Case> cases = {
        {"same file system", platform::MoveOps::system(), false, std::nullopt},
        {"destination taken", platform::MoveOps::system(), true, QStringLiteral("目标已存在：b.jpg")},
        {"across file systems", opsFailingFirstRename(EXDEV), false, std::nullopt},
        {"across file systems, destination taken", opsFailingFirstRename(EXDEV), true,
         QStringLiteral("目标已存在：b.jpg")},
        {"across file systems, name taken meanwhile", opsFailingFirstRename(EXDEV, EEXIST), false,
         QStringLiteral("目标已存在：b.jpg")},
        {"no RENAME_NOREPLACE: hard link", opsFailingFirstRename(EINVAL), false, std::nullopt},
        {"no RENAME_NOREPLACE, destination taken", opsFailingFirstRename(EINVAL), true,
         QStringLiteral("目标已存在：b.jpg")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directory(dir / "to");
        writeBytes(dir / "a.jpg", "photo bytes");
        setModified(dir / "a.jpg", QDateTime(QDate(2020, 2, 2), QTime(2, 2), Qt::LocalTime));
        if (c.occupied) writeBytes(dir / "to" / "b.jpg", "occupant");
        const auto error = AutoOrganizer::safeMoveItem(dir / "a.jpg", dir / "to" / "b.jpg", c.ops);
        EXPECT_EQ(error, c.error);
        if (c.error) {
            EXPECT_EQ(read(dir / "a.jpg"), "photo bytes");
            EXPECT_EQ(fs::exists(dir / "to" / "b.jpg"), c.occupied);
            if (c.occupied) {
                EXPECT_EQ(read(dir / "to" / "b.jpg"), "occupant");
            }
        } else {
            EXPECT_FALSE(fs::exists(dir / "a.jpg"));
            EXPECT_EQ(read(dir / "to" / "b.jpg"), "photo bytes");
            EXPECT_EQ(platform::fileTimes(dir / "to" / "b.jpg")->modified,
                      QDateTime(QDate(2020, 2, 2), QTime(2, 2), Qt::LocalTime));
        }
        // No temporary copy is ever left behind.
        EXPECT_EQ(listing(dir.path()).size(), size_t(c.error ? (c.occupied ? 3 : 2) : 2));
    }
}

TEST(SafeMove, MovesFoldersAndReportsAMissingSource) {
    TempDir dir;
    fs::create_directory(dir / "x.jpg");
    EXPECT_EQ(AutoOrganizer::safeMoveItem(dir / "x.jpg", dir / "y.jpg"), std::nullopt);
    EXPECT_TRUE(fs::is_directory(dir / "y.jpg"));
    fs::create_directory(dir / "z.jpg");
    EXPECT_EQ(AutoOrganizer::safeMoveItem(dir / "z.jpg", dir / "y.jpg", opsFailingFirstRename(EINVAL)),
              QStringLiteral("目标已存在：y.jpg"));
    const auto missing = AutoOrganizer::safeMoveItem(dir / "nope.jpg", dir / "w.jpg");
    ASSERT_TRUE(missing.has_value());
    EXPECT_TRUE(missing->startsWith(QStringLiteral("无法移动（")));
}

TEST(SafeMove, ASourceThatVanishesAfterTheCopyLeavesTheCopyInPlace) {
    struct Case {
        const char* name;
        int firstRenameErrno; // EXDEV: copy across file systems; EINVAL: hard link
        int unlinkErrno;      // how removing the source fails
        bool kept;            // the destination stays (and the move counts as done)
    };
    const std::vector<Case> cases = {
        {"copy, source gone meanwhile", EXDEV, ENOENT, true},
        {"copy, source cannot be removed", EXDEV, EACCES, false},
        {"hard link, source gone meanwhile", EINVAL, ENOENT, true},
        {"hard link, source cannot be removed", EINVAL, EACCES, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directory(dir / "to");
        writeBytes(dir / "a.jpg", "photo bytes");
        platform::MoveOps ops = opsFailingFirstRename(c.firstRenameErrno);
        const fs::path source = dir / "a.jpg";
        ops.unlink = [&](const char* path) {
            if (fs::path(path) != source) return ::unlink(path);
            if (c.unlinkErrno == ENOENT) ::unlink(path); // someone else took it away
            errno = c.unlinkErrno;
            return -1;
        };
        const auto error = AutoOrganizer::safeMoveItem(source, dir / "to" / "b.jpg", ops);
        EXPECT_EQ(!error.has_value(), c.kept);
        if (c.kept) {
            EXPECT_EQ(read(dir / "to" / "b.jpg"), "photo bytes");
        } else {
            EXPECT_FALSE(fs::exists(dir / "to" / "b.jpg"));
            EXPECT_EQ(read(source), "photo bytes");
        }
    }
}

TEST(ExecuteMoves, RemovesOnlyItsOwnStaleTemporariesInThePlannedFolders) {
    TempDir dir;
    const auto& d = dir.path();
    fs::create_directories(d / "1 鼎");
    fs::create_directories(d / "my notes");
    const std::string dead = ".vitrino-tmp-999999999-3-12345"; // no such process
    const std::string alive = ".vitrino-tmp-1-0-7";            // pid 1 always runs
    for (const auto& name :
         {dead, alive, std::string(".vitrino-tmp-notes.txt"), std::string(".vitrino-tmp-1-2")})
        writeBytes(d / "1 鼎" / name, "x");
    writeBytes(d / "my notes" / dead, "x");
    writeBytes(d / dead, "x");
    const std::vector<PlannedGroup> groups = {{"1 鼎", {file(d, "a.jpg")}, std::nullopt, false, false}};
    QStringList errors;
    AutoOrganizer::executeMoves(d, groups, core::logOnly([](const QString&) {}), errors);
    EXPECT_FALSE(fs::exists(d / "1 鼎" / dead));
    for (const auto& kept : {d / "1 鼎" / alive, d / "1 鼎" / ".vitrino-tmp-notes.txt",
                             d / "1 鼎" / ".vitrino-tmp-1-2", d / "my notes" / dead, d / dead})
        EXPECT_TRUE(fs::exists(kept)) << kept;
}

TEST(ExecuteMoves, AnUnwritableLabelFileIsAWarningNotAnError) {
    TempDir dir;
    const auto& d = dir.path();
    fs::create_directories(d / "1 鼎" / "IMG_0100.json"); // a folder where the file should go
    const std::vector<PlannedGroup> groups = {
        {"1 鼎", {file(d, "IMG_0100.JPG")}, RelicLabelExtracted{"鼎", "随州出土", "战国", ""}, false, false}};
    QStringList lines, errors;
    const auto result =
        AutoOrganizer::executeMoves(d, groups, core::logOnly([&](const QString& l) { lines << l; }), errors);
    EXPECT_EQ(result.moved, 1);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(lines.contains(QStringLiteral("[警告] 无法写入标签文件 IMG_0100.json：Is a directory")))
        << lines.join('\n').toStdString();
    EXPECT_TRUE(fs::exists(d / "1 鼎" / "IMG_0100.txt"));
}

TEST(ExecuteMoves, CancellingStopsBetweenFilesAndLeavesTheRestInPlace) {
    TempDir dir;
    const auto& d = dir.path();
    const std::vector<PlannedGroup> groups = {
        {"1 鼎", {file(d, "a.jpg"), file(d, "b.jpg"), file(d, "c.jpg")}, std::nullopt, false, false},
        {"2 其他", {file(d, "d.jpg")}, std::nullopt, false, false}};
    core::RunContext context = core::logOnly([](const QString&) {});
    context.progress = [&](const core::Progress& p) {
        if (p.index == 2) context.cancel.cancel(); // while the second file is about to move
    };
    QStringList errors;
    const auto result = AutoOrganizer::executeMoves(d, groups, context, errors);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.moved, 2);
    EXPECT_EQ(listing(d), (std::set<std::string>{"1 鼎", "1 鼎/a.jpg", "1 鼎/b.jpg", "c.jpg", "d.jpg"}));
}

TEST(ExecuteMoves, RelativeLinksStayWhereTheyPointAndAbsoluteOnesMove) {
    TempDir dir;
    const auto& d = dir.path();
    TempDir other;
    const auto a = file(d, "a.JPG");
    fs::create_directory(d / "sub");
    writeBytes(d / "sub" / "x.JPG", "kept beside the shoot");
    writeBytes(other / "o.JPG", "elsewhere");
    fs::create_symlink("sub/x.JPG", d / "rel.JPG");
    fs::create_symlink(other / "o.JPG", d / "abs.JPG");
    QStringList lines, errors;
    const auto result =
        AutoOrganizer::executeMoves(d,
                                    {{"1 鼎",
                                      {a,
                                       ImageScanner::ImageInfo{d / "rel.JPG", "rel.JPG", std::nullopt,
                                                               ImageScanner::ImageInfo::ImageType::jpg},
                                       ImageScanner::ImageInfo{d / "abs.JPG", "abs.JPG", std::nullopt,
                                                               ImageScanner::ImageInfo::ImageType::jpg}},
                                      std::nullopt,
                                      false,
                                      false}},
                                    core::logOnly([&](const QString& l) { lines << l; }), errors);
    EXPECT_EQ(result.moved, 2);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(lines.front(), core::warning(AutoOrganizer::kLinksLeftInPlace.arg(1).arg("rel.JPG")).shown());
    EXPECT_TRUE(fs::is_symlink(d / "rel.JPG"));
    EXPECT_TRUE(fs::exists(d / "1 鼎" / "abs.JPG")) << "an absolute link still points at its target";
}
