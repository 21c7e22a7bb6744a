#include "intake/WorkUnits.h"

#include <gtest/gtest.h>

using ImageScanner::ImageInfo;
using MediaPipeline::WorkUnit;

namespace {

/// Records of "name@minute …", shot at 10:minute (no "@": undated).
std::vector<ImageInfo> records(const QString& list) {
    std::vector<ImageInfo> out;
    for (const QString& item : list.split(QLatin1Char(' '))) {
        const QStringList parts = item.split(QLatin1Char('@'));
        const QDateTime at(QDate(2024, 5, 1), QTime(10, parts.value(1).toInt()), Qt::LocalTime);
        out.push_back({std::filesystem::path("/shoot") / parts[0].toStdString(), parts[0],
                       parts.size() > 1 ? std::optional(at) : std::nullopt,
                       ImageScanner::typeForExtension(ImageScanner::lowerExtension(parts[0].toStdString()))});
    }
    return out;
}

/// "primary[companion,companion] …" per unit.
QString describe(const std::vector<WorkUnit>& units) {
    QStringList out;
    for (const auto& u : units) {
        QStringList companions;
        for (const auto& c : u.companions)
            companions << c.fileName;
        out << u.primary.fileName + (companions.isEmpty() ? QString() : "[" + companions.join(",") + "]");
    }
    return out.join(QLatin1Char(' '));
}

} // namespace

TEST(WorkUnits, FoldsSameStemFilesAroundOnePrimary) {
    const struct {
        const char* name;
        const char* input;
        const char* expected;
    } cases[] = {
        {"heic beats raw", "IMG_0002.DNG@1 IMG_0002.HEIC@1", "IMG_0002.HEIC[IMG_0002.DNG]"},
        {"video never a companion", "IMG_0004.JPG@1 IMG_0004.MOV@2", "IMG_0004.JPG IMG_0004.MOV"},
        {"stems compare exactly", "img_0007.jpg@1 IMG_0007.CR3@2", "img_0007.jpg IMG_0007.CR3"},
        {"companions by their own dates", "A.JPG@5 A.NEF@9 A.DNG@3 A.HEIC", "A.JPG[A.HEIC,A.DNG,A.NEF]"},
        {"units in capture order, undated first", "C.JPG@3 B.JPG@2 V.MOV D.PNG", "D.PNG V.MOV B.JPG C.JPG"},
        {"ties: photos by name, then videos in input order", "Z.MOV@1 B.JPG@1 A.MOV@1 A.JPG@1",
         "A.JPG B.JPG Z.MOV A.MOV"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Every file once: as a primary or as a companion.
        EXPECT_EQ(describe(MediaPipeline::buildWorkUnits(records(c.input))), c.expected);
    }
}
