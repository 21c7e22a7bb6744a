// Intake speed: the folder scan against exiftool, thumbnails against vipsthumbnail.

#include "support/Bench.h"
#include "support/Fixtures.h"

#include "intake/ImageScanner.h"
#include "platform/Imaging.h"

#include <QCoreApplication>

#include <cstdio>

using namespace fixtures;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TempDir dir;

    // 1,000 JPEGs with camera-like EXIF.
    const auto shoot = dir / "shoot";
    fs::create_directory(shoot);
    for (int i = 0; i < 1000; ++i) {
        char name[32], date[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        std::snprintf(date, sizeof date, "2024:05:01 %02d:%02d:%02d", 8 + i / 3600, (i / 60) % 60, i % 60);
        writeJpeg(shoot / name, 320, 240, Dates{date, date}, 1, unsigned(i));
    }
    const QString shootText = QString::fromStdString(shoot.string());
    int records = 0;
    const double scanMs =
        bench::medianMs(5, [&] { records = int(ImageScanner::scanFolder(shoot)->images.size()); });
    std::printf("scan: %d records\n", records);
    if (bench::haveProgram("exiftool")) {
        const double exiftoolMs = bench::medianMs(3, [&] {
            bench::runProgram("exiftool", {"-fast2", "-DateTimeOriginal", shootText});
        });
        bench::printRow("scan of 1,000 JPEGs", scanMs, exiftoolMs, "exiftool -fast2");
    }

    // Thumbnails of a 24 MP JPEG, whole processes on both sides.
    const auto big = dir / "24mp.jpg";
    bench::writeRealisticJpeg(big, 6000, 4000);
    const QString bigText = QString::fromStdString(big.string());
    const auto source = platform::openImageSource(big);
    for (int size : {2560, 768}) {
        const QString out = QString::fromStdString((dir / ("ours.jpg")).string());
        const QString theirsOut = QString::fromStdString((dir / "theirs.jpg").string()) + "[Q=90]";
        const double inProcess = bench::medianMs(5, [&] {
            const auto thumb = platform::thumbnail(*source, size);
            (void)platform::encodeJpeg(*thumb, 90);
        });
        const double ours = bench::medianMs(5, [&] {
            bench::runProgram(QStringLiteral(VITRINO_CLI_PATH),
                              {"thumb", bigText, "--max", QString::number(size), "-o", out});
        });
        std::printf("thumbnail %d in process (decode+resize+encode): %.1f ms\n", size, inProcess);
        if (bench::haveProgram("vipsthumbnail")) {
            const double vips = bench::medianMs(5, [&] {
                bench::runProgram("vipsthumbnail",
                                  {bigText, "--size", QString::number(size), "-o", theirsOut});
            });
            bench::printRow(QStringLiteral("thumbnail %1 px of 24 MP (process)").arg(size), ours, vips,
                            "vipsthumbnail");
        }
    }
    return 0;
}
