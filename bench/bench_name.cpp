// Naming one exhibit folder of 40 photographs in place with a model that answers at once: time per
// photo, and the share of it that is exiftool (two rating passes, one process per file), found by
// running the same folder with exiftool and with the attribute route alone.

#include "support/Bench.h"
#include "support/FakeVisionBackend.h"
#include "support/Fixtures.h"

#include "folder/FolderProcessor.h"
#include "labels/RatingWriter.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>

using namespace fixtures;
using bench::Clock;

namespace {

constexpr int kPhotos = 40;

std::string photoName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
    return name;
}

/// A fresh copy of the shoot (own inodes: exiftool rewrites files in place): one label card,
/// three panels, the rest object photos.
fs::path freshFolder(const fs::path& master, const fs::path& base, int run) {
    const fs::path dir = base / ("run" + std::to_string(run)) / "12";
    fs::create_directories(dir);
    for (int i = 0; i < kPhotos; ++i)
        fs::copy_file(master, dir / photoName(i));
    return dir;
}

FakeVisionBackend& instantModel() {
    static FakeVisionBackend model;
    static const bool scripted = [] {
        model.classifyAs(QString::fromStdString(photoName(kPhotos - 1)), MediaCategory::label);
        model.label(QString::fromStdString(photoName(kPhotos - 1)),
                    {"玉琮", "良渚", "良渚文化", "高 8 厘米"});
        for (int i = 0; i < 3; ++i)
            model.classifyAs(QString::fromStdString(photoName(i * 10)), MediaCategory::panel);
        return true;
    }();
    (void)scripted;
    return model;
}

/// One whole run; milliseconds.
double nameOnce(const fs::path& dir, const QStringList& exifToolSearchPath, int* errors) {
    FolderProcessor::RunOptions options;
    options.useVisionPrefilter = false; // the probe is measured by bench_probe
    options.model = QStringLiteral("instant");
    options.rate = [&](int stars, const fs::path& file) {
        return RatingWriter::write(stars, file, exifToolSearchPath);
    };
    const auto start = Clock::now();
    const auto result =
        FolderProcessor::run(dir, instantModel(), core::logOnly([](const QString&) {}), options);
    const double ms = bench::msSince(start);
    *errors = int(result.errors.size());
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto exifTool = RatingWriter::exifToolPath();
    if (!exifTool) {
        std::printf("exiftool is not installed (scripts/bootstrap installs it)\n");
        return 1;
    }
    const int runs = app.arguments().contains("--quick") ? 1 : 3;
    TempDir tmp;
    const fs::path master = tmp / "master.JPG";
    bench::writeRealisticJpeg(master, 4000, 3000); // 12 MP
    std::printf("folder of %d photos (12 MP JPEG, %.1f MB each), model answering at once, prefilter off\n",
                kPhotos, double(fs::file_size(master)) / 1e6);

    int run = 0, errors = 0;
    std::vector<double> with, without;
    for (int i = 0; i < runs; ++i) {
        without.push_back(nameOnce(freshFolder(master, tmp.path(), run++), {}, &errors));
        if (errors) std::printf("  (attribute route only: %d errors)\n", errors);
        with.push_back(
            nameOnce(freshFolder(master, tmp.path(), run++), RatingWriter::kExifToolPaths, &errors));
        if (errors) std::printf("  (with exiftool: %d errors)\n", errors);
    }
    std::sort(with.begin(), with.end());
    std::sort(without.begin(), without.end());
    const double w = with[with.size() / 2], wo = without[without.size() / 2];

    // The baseline: exiftool alone, as the run starts it, once per file.
    const fs::path one = freshFolder(master, tmp.path(), run++) / photoName(0);
    const double perProcess = bench::medianMs(5, [&] { RatingWriter::writeWithExifTool(3, one); });

    std::printf("name, with exiftool:        %8.1f ms per photo (%.1f s for the folder)\n", w / kPhotos,
                w / 1000);
    std::printf("name, attributes only:      %8.1f ms per photo\n", wo / kPhotos);
    std::printf("exiftool alone, per process: %7.1f ms; 2 passes x %d files = %.1f s\n", perProcess, kPhotos,
                2 * kPhotos * perProcess / 1000);
    std::printf("exiftool share of the run:  %8.0f %%  (with / without = %.1fx)\n", 100.0 * (w - wo) / w,
                w / wo);
    return 0;
}
