// Upload preparation (decode → 2560 → statistics → enhancement → JPEG within limits) against
// vipsthumbnail and ImageMagick producing a 2560 px JPEG at quality 90; peak memory at 48 MP.

#include "support/Bench.h"
#include "support/Fixtures.h"

#include "ai/RAWJPEGExporter.h"

#include <QCoreApplication>

#include <cstdio>

using namespace fixtures;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TempDir dir;
    const auto photo = dir / "24mp.jpg";
    bench::writeRealisticJpeg(photo, 6000, 4000);
    const QString in = QString::fromStdString(photo.string());
    const QString out = QString::fromStdString((dir / "out.jpg").string());
    const QString cli = QStringLiteral(VITRINO_CLI_PATH);

    const double inProcess = bench::medianMs(5, [&] { (void)RAWJPEGExporter::prepareForUpload(photo); });
    std::printf("prepare 24 MP in process: %.1f ms\n", inProcess);
    const double ours = bench::medianMs(5, [&] { bench::runProgram(cli, {"prepare", in, "-o", out}); });
    if (bench::haveProgram("vipsthumbnail")) {
        const double vips = bench::medianMs(5, [&] {
            bench::runProgram("vipsthumbnail", {in, "--size", "2560", "-o", out + "[Q=90]"});
        });
        bench::printRow("prepare 24 MP for upload (process)", ours, vips, "vipsthumbnail");
    }
    if (bench::haveProgram("convert")) {
        const double magick = bench::medianMs(3, [&] {
            bench::runProgram("convert", {in, "-resize", "2560x2560", "-quality", "90", out});
        });
        bench::printRow("prepare 24 MP for upload (process)", ours, magick, "ImageMagick convert");
    }

    const auto big = dir / "48mp.jpg";
    bench::writeRealisticJpeg(big, 8000, 6000);
    const double rss =
        bench::peakRssOfRunMb(cli, {"prepare", QString::fromStdString(big.string()), "-o", out});
    std::printf("peak RSS of vitrino-cli prepare on a 48 MP JPEG: %.1f MB\n", rss);
    return 0;
}
