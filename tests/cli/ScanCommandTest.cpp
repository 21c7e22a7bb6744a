#include "support/Fixtures.h"
#include "support/Process.h"

#include <gtest/gtest.h>

using namespace fixtures;

TEST(ScanCommand, PrintsSummaryTaskLineAndOneLinePerUnit) {
    TempDir dir;
    writeJpeg(dir / "IMG_0001.JPG", 32, 32, Dates{"2024:05:01 10:00:00", std::nullopt});
    writeDng(dir / "IMG_0001.DNG", 64, 48, Dates{"2024:05:01 10:00:00", std::nullopt});
    writeJpeg(dir / "IMG_0002.JPG", 32, 32, Dates{"2024:05:01 10:05:00", std::nullopt});
    writeBytes(dir / "line\nbreak.mov", "v");
    setModified(dir / "line\nbreak.mov", QDateTime(QDate(2024, 5, 1), QTime(11, 0), Qt::LocalTime));

    const auto run = runCli({"scan", QString::fromStdString(dir.path().string())});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutLines(),
              QStringList({
                  "扫描完成：共 4 个（RAW 1 / JPG 2 / HEIC 0 / 视频 1）",
                  "识别任务 3 个（同名 RAW 跟移 1 个；有 JPG 则只认 JPG，Vision/AI 流程与原先一致）",
                  "2024-05-01T10:00:00\tIMG_0001.JPG；同名跟移：IMG_0001.DNG",
                  "2024-05-01T10:05:00\tIMG_0002.JPG",
                  "2024-05-01T11:00:00\tline\\nbreak.mov",
              }));
}

TEST(ScanCommand, FailuresGoToStderrWithNonZeroExit) {
    TempDir dir;
    writeBytes(dir / "file.txt", "x");
    struct Case {
        QStringList args;
        int exitCode;
        QString stderrText;
    };
    const std::vector<Case> cases = {
        {{"scan", QString::fromStdString((dir / "missing").string())}, 1, "文件夹不存在"},
        {{"scan", QString::fromStdString((dir / "file.txt").string())}, 1, "选择的不是文件夹"},
        {{"scan"}, 2, "用法：vitrino-cli scan DIR"},
    };
    for (const auto& c : cases) {
        const auto run = runCli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.stderrText.trimmed(), c.stderrText);
        EXPECT_TRUE(run.stdoutText.isEmpty());
    }
}

TEST(ThumbCommand, WritesAJpegWithinTheRequestedSize) {
    TempDir dir;
    writeJpeg(dir / "in.jpg", 900, 600);
    const auto out = dir / "out.jpg";
    const auto run = runCli({"thumb", QString::fromStdString((dir / "in.jpg").string()), "--max", "300", "-o",
                             QString::fromStdString(out.string())});
    EXPECT_EQ(run.exitCode, 0);
    const auto thumb = platform::fullImage(*platform::openImageSource(out));
    ASSERT_TRUE(thumb.has_value());
    EXPECT_EQ(thumb->size(), cv::Size(300, 200));

    const auto bad = runCli({"thumb", QString::fromStdString((dir / "missing.jpg").string()), "--max", "300",
                             "-o", QString::fromStdString((dir / "x.jpg").string())});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "x.jpg"));
}
