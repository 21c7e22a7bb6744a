#include "intake/ImageScanner.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace fixtures;

namespace {

QDateTime local(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::LocalTime);
}

const QDateTime kFileTime = local(2019, 3, 4, 5, 6, 7);

} // namespace

TEST(ImageScanner, CaptureTimeFallsBackFromExifToTiffToFileDate) {
    const QDateTime original = local(2024, 5, 1, 10, 20, 30), tiff = local(2023, 1, 2, 3, 4, 5);
    const Dates originalOnly{"2024:05:01 10:20:30", std::nullopt},
        both{"2024:05:01 10:20:30", "2023:01:02 03:04:05"};
    const struct {
        const char* name; ///< its extension chooses the writer; a .mov gets a tagged JPEG's bytes
        Dates dates;
        QDateTime expected;
    } cases[] = {
        {"b.jpg", {std::nullopt, "2023:01:02 03:04:05"}, tiff},
        {"c.jpg", both, original},
        {"d.jpg", {"0000:00:00 00:00:00", "2023:01:02 03:04:05"}, tiff},
        {"f.jpg", {}, kFileTime},
        {"g.heic", originalOnly, original},
        {"j.dng", originalOnly, original},
        // A video keeps its file date even when its bytes look like a tagged photo.
        {"n.mov", originalOnly, kFileTime},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / c.name;
        const std::string ext = path.extension().string();
        if (ext == ".heic")
            writeHeic(path, 64, 64, c.dates);
        else if (ext == ".dng")
            writeDng(path, 64, 48, c.dates);
        else
            writeJpeg(path, 64, 48, c.dates);
        setModified(path, kFileTime);
        EXPECT_EQ(ImageScanner::getCreationDate(path, ext == ".mov").value(), c.expected);
    }
}

TEST(ImageScanner, ScansOnlyTheFolderOwnMediaInCaptureOrderWhateverTheCaseOfTheirExtensionsOrFails) {
    TempDir dir;
    writeJpeg(dir / "late.jpg", 32, 32, Dates{"2024:05:01 12:00:00", std::nullopt});
    writeJpeg(dir / "early.JPG", 32, 32, Dates{"2024:05:01 09:00:00", std::nullopt});
    writeJpeg(dir / "mid.JpEg", 32, 32, Dates{"2024:05:01 11:00:00", std::nullopt});
    writeDng(dir / "early.DNG", 64, 48, Dates{"2024:05:01 09:00:00", std::nullopt});
    writeHeic(dir / "mid.heif", 64, 64, Dates{"2024:05:01 10:00:00", std::nullopt});
    writePng(dir / "shot.PNG", 16, 16);
    for (const char* name : {"clip.m4v", "notes.jpg.txt", "noextension", "early.xmp"})
        writeBytes(dir / name, "not a photograph");
    fs::create_directory(dir / "1 已整理");
    writeJpeg(dir / "1 已整理" / "inside.jpg", 32, 32);
    for (const char* name : {"shot.PNG", "clip.m4v"})
        setModified(dir / name, local(2020, 1, 1, 0, 0, 0));

    const auto result = ImageScanner::scanFolder(dir.path()).value();
    QStringList names;
    for (const auto& info : result.images)
        names << info.fileName;
    // clip.m4v and shot.PNG share their file date; equal dates keep name order.
    EXPECT_EQ(names, QStringList({"clip.m4v", "shot.PNG", "early.DNG", "early.JPG", "mid.heif", "mid.JpEg",
                                  "late.jpg"}));
    EXPECT_EQ(ImageScanner::summaryLine(result),
              QStringLiteral("扫描完成：共 7 个（RAW 1 / JPG 3 / HEIC 1 / 视频 1）"));

    // A folder of nothing to scan is empty, not an error; missing and unreadable ones are errors.
    fs::create_directories(dir / "ignored" / "sub");
    writeBytes(dir / "ignored" / "a.txt", "x");
    writeBytes(dir / "ignored" / "b.json", "{}");
    writeJpeg(dir / "ignored" / "sub" / "c.jpg", 16, 16);
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::none);
    const QString none = QStringLiteral("扫描完成：共 0 个（RAW 0 / JPG 0 / HEIC 0 / 视频 0）");
    const std::pair<const char*, QString> cases[] = {
        {"ignored", none},
        {"nope", QStringLiteral("文件夹不存在")},
        {"ignored/b.json", QStringLiteral("选择的不是文件夹")},
        {"locked", ::geteuid() == 0 ? none : QStringLiteral("无法读取文件夹内容：")}, // root reads all
    };
    for (const auto& [name, outcome] : cases) {
        const auto result = ImageScanner::scanFolder(dir / name);
        const QString got = result ? ImageScanner::summaryLine(*result) : result.error().description();
        EXPECT_TRUE(got.startsWith(outcome)) << name << ": " << got.toStdString();
    }
    fs::permissions(dir / "locked", fs::perms::owner_all);
}
