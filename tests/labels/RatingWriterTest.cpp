#include "labels/RatingWriter.h"
#include "platform/ExtendedAttributes.h"
#include "support/FileSystems.h"

#include <gtest/gtest.h>

using namespace fixtures;

namespace {

const QStringList kNoExifTool = {QStringLiteral("/nonexistent/exiftool")};

TEST(RatingWriter, PropertyListOfARealMatchesTheReferenceBytes) {
    const std::pair<double, const char*> vectors[] = {
        {0, "62706c697374303023000000000000000008000000000000010100000000000000010000000000000000000000000000"
            "0011"},
        {3, "62706c697374303023400800000000000008000000000000010100000000000000010000000000000000000000000000"
            "0011"},
    };
    for (const auto& [value, bytes] : vectors)
        EXPECT_EQ(RatingWriter::realPropertyList(value).toHex(), QByteArray(bytes)) << value;
}

TEST(RatingWriter, RunsExifToolOnceWithTheEightArgumentsSetsBothAttributesAndOneRouteIsEnough) {
    struct Case {
        int rating;
        QString stars, percent;
        QByteArray balooValue;
    };
    const Case cases[] = {
        {3, "3", "50", "6"},  {1, "1", "1", "2"},  {4, "4", "75", "8"},
        {7, "5", "99", "10"}, {-1, "0", "0", "0"},
    };
    TempDir dir;
    const StandInExifTool tool(dir / "bin");
    for (const Case& c : cases) {
        const fs::path file = dir / ("photo " + std::to_string(c.rating) + ".JPG");
        writeBytes(file, "jpeg bytes");
        EXPECT_EQ(RatingWriter::write(c.rating, file, tool.searchPath()), std::nullopt);
        const QStringList expected = {"-overwrite_original_in_place",
                                      "-n",
                                      "-Rating=" + c.stars,
                                      "-XMP-xmp:Rating=" + c.stars,
                                      "-RatingPercent=" + c.percent,
                                      "-XMP-microsoft:Rating=" + c.stars,
                                      "-XMP-microsoft:RatingPercent=" + c.percent,
                                      QString::fromStdString(file.string())};
        ASSERT_FALSE(tool.calls().empty());
        EXPECT_EQ(tool.calls().back(), expected) << c.rating;
        EXPECT_EQ(platform::attribute(file, RatingWriter::kStarRatingAttribute),
                  RatingWriter::realPropertyList(c.stars.toDouble()));
        EXPECT_EQ(platform::attribute(file, RatingWriter::kBalooRatingAttribute), c.balooValue);
    }
    EXPECT_EQ(tool.calls().size(), std::size(cases)); // one process per file
    // A relative name that starts with "-" must not reach exiftool as an option.
    EXPECT_EQ(RatingWriter::exifToolArguments(3, "-delete_original.JPG").last(), "./-delete_original.JPG");

    // One working route is enough. No exiftool anywhere: the attribute alone carries the rating.
    const fs::path file = dir / "a.JPG";
    writeBytes(file, "x");
    EXPECT_EQ(RatingWriter::write(2, file, kNoExifTool), std::nullopt);
    EXPECT_EQ(platform::attribute(file, RatingWriter::kBalooRatingAttribute), QByteArray("4"));
    EXPECT_EQ(RatingWriter::writeWithExifTool(2, file, kNoExifTool), RatingWriter::kExifToolMissing);

    // exiftool failing is reported by its own route only.
    const StandInExifTool failing(dir / "failing", 2);
    EXPECT_EQ(RatingWriter::writeWithExifTool(3, file, failing.searchPath()),
              QStringLiteral("exiftool 退出码 2"));
    EXPECT_EQ(RatingWriter::write(3, file, failing.searchPath()), std::nullopt);
}

TEST(RatingWriter, AReadOnlyFileFailsBothRoutesWithTheJoinedMessage) {
    TempDir dir;
    const fs::path file = dir / "locked.JPG";
    writeJpeg(file, 64, 48);
    const StandInExifTool tool(dir / "bin", 1); // what exiftool answers when it cannot write
    QStringList search = tool.searchPath();
    if (RatingWriter::exifToolPath()) search = RatingWriter::kExifToolPaths; // the real one
    const Unwritable locked(file);
    if (!locked.ok()) GTEST_SKIP() << "cannot make a file unwritable here";
    const auto message = RatingWriter::write(3, file, search);
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->startsWith(QStringLiteral("exiftool 退出码 "))) << message->toStdString();
    EXPECT_NE(*message, QStringLiteral("exiftool 退出码 0；写入桌面搜索星级失败 (-1)"));
    EXPECT_TRUE(message->endsWith(QStringLiteral("；写入桌面搜索星级失败 (-1)"))) << message->toStdString();
}

TEST(RatingWriter, AFileSystemWithoutUserAttributesFailsTheAttributeRoute) {
    const ScratchMount mount("ramfs");
    if (!mount.ok()) GTEST_SKIP() << mount.reason();
    const fs::path file = mount.path() / "card.JPG";
    writeBytes(file, "x");
    EXPECT_EQ(RatingWriter::writeSpotlightStarRating(3, file), QStringLiteral("写入桌面搜索星级失败 (-1)"));
    EXPECT_EQ(RatingWriter::write(3, file, kNoExifTool),
              QStringLiteral("未找到 exiftool；写入桌面搜索星级失败 (-1)"));
    const StandInExifTool tool(mount.path() / "bin");
    EXPECT_EQ(RatingWriter::write(3, file, tool.searchPath()), std::nullopt);
}

} // namespace
