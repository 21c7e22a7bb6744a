#include "intake/WorkUnits.h"

#include <gtest/gtest.h>

using ImageScanner::ImageInfo;
using MediaPipeline::WorkUnit;
using Type = ImageInfo::ImageType;

namespace {

ImageInfo rec(const char* name, std::optional<int> minute) {
    ImageInfo info;
    info.path = std::filesystem::path("/shoot") / name;
    info.fileName = QString::fromUtf8(name);
    info.fileType = ImageScanner::typeForExtension(ImageScanner::lowerExtension(name));
    if (minute) info.creationDate = QDateTime(QDate(2024, 5, 1), QTime(10, *minute), Qt::LocalTime);
    return info;
}

/// "primary[companion,companion]" per unit, for readable expectations.
QStringList describe(const std::vector<WorkUnit>& units) {
    QStringList out;
    for (const auto& u : units) {
        QStringList companions;
        for (const auto& c : u.companions)
            companions << c.fileName;
        out << u.primary.fileName + (companions.isEmpty() ? QString() : "[" + companions.join(",") + "]");
    }
    return out;
}

} // namespace

TEST(WorkUnits, FoldsSameStemFilesAroundOnePrimary) {
    struct Case {
        const char* name;
        std::vector<ImageInfo> input;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {"jpeg beats raw", {rec("IMG_0001.JPG", 1), rec("IMG_0001.CR3", 1)}, {"IMG_0001.JPG[IMG_0001.CR3]"}},
        {"heic beats raw",
         {rec("IMG_0002.DNG", 1), rec("IMG_0002.HEIC", 1)},
         {"IMG_0002.HEIC[IMG_0002.DNG]"}},
        {"video never a companion",
         {rec("IMG_0004.JPG", 1), rec("IMG_0004.MOV", 2)},
         {"IMG_0004.JPG", "IMG_0004.MOV"}},
        {"jpeg beats heic even when later",
         {rec("IMG_0006.HEIC", 1), rec("IMG_0006.JPG", 5)},
         {"IMG_0006.JPG[IMG_0006.HEIC]"}},
        {"stems compare exactly",
         {rec("img_0007.jpg", 1), rec("IMG_0007.CR3", 2)},
         {"img_0007.jpg", "IMG_0007.CR3"}},
        {"companions by their own dates",
         {rec("A.JPG", 5), rec("A.NEF", 9), rec("A.DNG", 3), rec("A.HEIC", std::nullopt)},
         {"A.JPG[A.HEIC,A.DNG,A.NEF]"}},
        {"units in capture order, undated first",
         {rec("C.JPG", 3), rec("B.JPG", 2), rec("V.MOV", std::nullopt), rec("D.PNG", std::nullopt)},
         {"D.PNG", "V.MOV", "B.JPG", "C.JPG"}},
        {"ties: photos by name, then videos in input order",
         {rec("Z.MOV", 1), rec("B.JPG", 1), rec("A.MOV", 1), rec("A.JPG", 1)},
         {"A.JPG", "B.JPG", "Z.MOV", "A.MOV"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto units = MediaPipeline::buildWorkUnits(c.input);
        EXPECT_EQ(describe(units), c.expected);
        size_t total = 0;
        for (const auto& u : units)
            total += 1 + u.companions.size();
        EXPECT_EQ(total, c.input.size());
    }
}
