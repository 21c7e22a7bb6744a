// The text probe on rendered scenes: per-stage time at 1280 and 2560 on this machine, and how
// many label, panel and object photographs each stage calls "text". With --verbose, one line per
// scene with the detector's region counts and the best recognition, which is what the
// thresholds in VisionTextProbe were chosen from. --dump DIR keeps the rendered photographs.

#include "samples/Scenes.h"
#include "support/Bench.h"
#include "support/Fixtures.h"

#include "ai/RAWJPEGExporter.h"
#include "classify/VisionTextProbe.h"
#include "platform/TextRecognition.h"

#include <QGuiApplication>

#include <chrono>
#include <cstdio>
#include <map>

using namespace fixtures;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

struct Stats {
    int total = 0, fast = 0, acc1280 = 0, acc2560 = 0, none = 0;
    double loadMs = 0, fastMs = 0, acc1280Ms = 0, acc2560Ms = 0, probeMs = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool verbose = args.contains("--verbose");
    const int dumpAt = int(args.indexOf("--dump"));
    const int perKind = args.contains("--quick") ? 5 : 20;
    if (auto ok = platform::checkModels(); !ok) {
        std::fprintf(stderr, "%s\n", ok.error().description().toUtf8().constData());
        return 1;
    }
    TempDir dir;
    const fs::path out = dumpAt > 0 ? fs::path(args.at(dumpAt + 1).toStdString()) : dir.path();
    fs::create_directories(out);

    // Warm the networks so that loading is not counted.
    {
        const auto warm = scenes::renderLabel(scenes::randomLabel(999), 999, 2400, 1600);
        scenes::writePhoto(out / "warm.jpg", warm);
        (void)VisionTextProbe::containsAnyText(out / "warm.jpg");
        (void)platform::detectText(warm, 960, 0.006);
    }

    std::map<QString, Stats> table;
    for (const char* kind : {"label", "panel", "object"}) {
        for (int i = 0; i < perKind; ++i) {
            const unsigned seed = 1000u + unsigned(i) * 31u;
            platform::Bitmap scene;
            if (kind == QLatin1String("label"))
                scene = scenes::renderLabel(scenes::randomLabel(seed), seed, 2400, 1600);
            else if (kind == QLatin1String("panel"))
                scene = scenes::renderPanel(seed, 2400, 1600);
            else
                scene = scenes::renderObject(seed, 2400, 1600);
            const fs::path file = out / (std::string(kind) + "_" + std::to_string(i) + ".jpg");
            scenes::writePhoto(file, scene);

            // The probe's stages, timed one by one on the same photograph.
            const auto t0 = Clock::now();
            const auto loaded = RAWJPEGExporter::loadViewableImage(file, 2560);
            const auto enhanced = RAWJPEGExporter::enhanceForAPI(*loaded);
            const auto t1 = Clock::now();
            const auto small = RAWJPEGExporter::downsampledImage(enhanced, 1280);
            const auto boxes = platform::detectText(small, 640, 0.006);
            const auto fastRead = VisionTextProbe::recognizeHasText(small, VisionTextProbe::Level::fast);
            const bool fast = boxes && fastRead.ok() && *fastRead;
            const auto t2 = Clock::now();
            (void)VisionTextProbe::recognizeHasText(small, VisionTextProbe::Level::accurate);
            const auto t3 = Clock::now();
            const auto large = RAWJPEGExporter::downsampledImage(enhanced, 2560);
            (void)VisionTextProbe::recognizeHasText(large, VisionTextProbe::Level::accurate);
            const auto t4 = Clock::now();
            const auto result = VisionTextProbe::containsAnyText(file);
            const auto t5 = Clock::now();

            Stats& s = table[kind];
            ++s.total;
            s.loadMs += ms(t0, t1);
            s.fastMs += ms(t1, t2) / 2; // detection ran twice above: once for the boxes, once inside
            s.acc1280Ms += ms(t2, t3);
            s.acc2560Ms += ms(t3, t4);
            const QString detail = result ? result->detail : QStringLiteral("error");
            if (detail == VisionTextProbe::kFast1280)
                ++s.fast;
            else if (detail == VisionTextProbe::kAccurate1280)
                ++s.acc1280;
            else if (detail == VisionTextProbe::kAccurate2560)
                ++s.acc2560;
            else
                ++s.none;
            s.probeMs += ms(t4, t5);
            if (verbose && boxes) {
                int lines = 0;
                float bestConf = 0;
                QString bestText;
                for (const auto& b : *boxes) {
                    lines += b.lineLike();
                    if (auto r = platform::recognizeText(small, b);
                        r && r->confidence > bestConf && r->text.size() >= 2) {
                        bestConf = r->confidence;
                        bestText = r->text;
                    }
                }
                std::printf(
                    "%-7s %2d  regions %3zu  line-like %3d  fast %d  best read %.2f \"%s\"  → %s (%.0f ms)\n",
                    kind, i, boxes->size(), lines, fast, bestConf, bestText.left(16).toUtf8().constData(),
                    detail.toUtf8().constData(), ms(t2, t3));
            }
        }
    }
    std::printf("\nwhat the probe answered\n%-8s %6s %10s %14s %14s %10s\n", "scene", "count", "1280 fast",
                "1280 accurate", "2560 accurate", "no text");
    for (const auto& [kind, s] : table)
        std::printf("%-8s %6d %10d %14d %14d %10d\n", kind.toUtf8().constData(), s.total, s.fast, s.acc1280,
                    s.acc2560, s.none);
    std::printf("\nmean ms per photo (2 cores)\n%-8s %14s %10s %14s %14s %12s\n", "scene", "load+enhance",
                "1280 fast", "1280 accurate", "2560 accurate", "whole probe");
    for (const auto& [kind, s] : table)
        std::printf("%-8s %14.0f %10.0f %14.0f %14.0f %12.0f\n", kind.toUtf8().constData(),
                    s.loadMs / s.total, s.fastMs / s.total, s.acc1280Ms / s.total, s.acc2560Ms / s.total,
                    s.probeMs / s.total);
    return 0;
}
