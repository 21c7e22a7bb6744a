// Feature prints on this machine.
//
// Default: the time per photograph of a 24 MP JPEG by stage (open, 768 px thumbnail, 224 px
// network input, network), against a full decode of the same file as the baseline; then a cold
// pass, as a refinement pass meets it: a fresh network and 20 exhibits × 5 photographs never seen
// before, each printed once, plus the 4 distances per candidate.
//
// --fit [--first-seed N] [--objects N]: how the 768 px thumbnail becomes the 224 × 224 input
// (squash, centre crop, pad), on rendered objects photographed from 4 camera positions, half of
// them landscape and half portrait. What ImageFeaturePrint's choice was made from.

#include "refine/ImageFeaturePrint.h"
#include "samples/Scenes.h"
#include "support/Bench.h"
#include "support/Fixtures.h"

#include <QGuiApplication>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

using namespace fixtures;
using refine::FeatureInputFit;
using refine::FeaturePrintObservation;
using refine::ImageFeaturePrint;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

/// CPU time of the whole process (all threads), in ms: on a shared machine the wall time also
/// counts other programs' turns.
double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct View {
    int object;
    int kind;
    FeaturePrintObservation print;
};

int measureFits(unsigned firstSeed, int objects) {
    constexpr int kViews = 4;
    struct Row {
        const char* name;
        FeatureInputFit fit;
        std::vector<View> views;
        double ms = 0;
    };
    std::vector<Row> rows = {{"squash", FeatureInputFit::squash, {}},
                             {"centre crop", FeatureInputFit::centreCrop, {}},
                             {"pad", FeatureInputFit::pad, {}}};
    for (int o = 0; o < objects; ++o) {
        const unsigned seed = firstSeed + unsigned(o);
        const auto kind = static_cast<scenes::ObjectKind>(o % 4);
        const bool portrait = (o / 4) % 2 == 1;
        for (unsigned v = 0; v < kViews; ++v) {
            const auto photo =
                scenes::renderObject(kind, seed, portrait ? 1200 : 1600, portrait ? 1600 : 1200, v);
            const auto thumb = platform::fitWithin(photo, ImageFeaturePrint::kThumbnailSide);
            for (auto& row : rows) {
                const auto t0 = Clock::now();
                auto print = ImageFeaturePrint::ofThumbnail(thumb, row.fit);
                row.ms += ms(t0, Clock::now());
                if (!print) {
                    std::fprintf(stderr, "%s\n", print.error().text.toUtf8().constData());
                    return 1;
                }
                row.views.push_back({o, o % 4, *print});
            }
        }
    }
    std::printf("%d objects (seeds %u–%u) × %d views, 768 px thumbnails of 1600×1200 and 1200×1600 renders\n",
                objects, firstSeed, firstSeed + unsigned(objects) - 1, kViews);
    std::printf("%-12s %10s %12s %14s %12s %12s %8s\n", "fit", "top-1", "pair < all", "pair < kind",
                "mean same", "mean other", "ms");
    for (const auto& row : rows) {
        const auto& v = row.views;
        int top1 = 0, pairs = 0, beatsAll = 0, beatsKind = 0;
        double same = 0, other = 0;
        for (size_t q = 0; q < v.size(); ++q) {
            float nearestOther = std::numeric_limits<float>::max(), nearestKind = nearestOther;
            float nearest = nearestOther;
            int nearestObject = -1;
            for (size_t j = 0; j < v.size(); ++j) {
                if (j == q) continue;
                const float d = *v[q].print.computeDistance(v[j].print);
                if (d < nearest) nearest = d, nearestObject = v[j].object;
                if (v[j].object != v[q].object) {
                    nearestOther = std::min(nearestOther, d);
                    if (v[j].kind == v[q].kind) nearestKind = std::min(nearestKind, d);
                }
            }
            top1 += nearestObject == v[q].object;
            other += nearestOther;
            for (size_t j = 0; j < v.size(); ++j) {
                if (j == q || v[j].object != v[q].object) continue;
                const float d = *v[q].print.computeDistance(v[j].print);
                ++pairs;
                same += d;
                beatsAll += d < nearestOther;
                beatsKind += d < nearestKind;
            }
        }
        std::printf("%-12s %10.3f %12.3f %14.3f %12.3f %12.3f %8.1f\n", row.name,
                    double(top1) / double(v.size()), double(beatsAll) / pairs, double(beatsKind) / pairs,
                    same / pairs, other / double(v.size()), row.ms / double(v.size()));
    }
    std::printf(
        "top-1: the nearest other photograph shows the same object; pair < all (< kind): another view "
        "of the same object is nearer than every view of every other object (of the same kind)\n");
    return 0;
}

int measureTime() {
    TempDir dir;
    // Ten distinct 24 MP photographs; the cold pass meets each under five names.
    std::vector<fs::path> originals;
    for (int i = 0; i < 10; ++i) {
        originals.push_back(dir / ("original_" + std::to_string(i) + ".jpg"));
        bench::writeRealisticJpeg(originals.back(), 6000, 4000);
    }
    std::vector<fs::path> shoot;
    for (int e = 0; e < 20; ++e)
        for (int p = 0; p < 5; ++p) {
            shoot.push_back(dir / ("exhibit_" + std::to_string(e) + "_" + std::to_string(p) + ".jpg"));
            fs::copy_file(originals[size_t(e * 5 + p) % originals.size()], shoot.back());
        }

    // Cold: the network is loaded inside the first print, as in a refinement pass.
    const auto t0 = Clock::now();
    const double cpu0 = cpuMs();
    std::vector<FeaturePrintObservation> prints;
    for (const auto& file : shoot) {
        auto print = ImageFeaturePrint::compute(file);
        if (!print) {
            std::fprintf(stderr, "%s\n", print.error().text.toUtf8().constData());
            return 1;
        }
        prints.push_back(*print);
    }
    // A pass compares each candidate with up to 3 samples and one anchor.
    float sink = 0;
    for (size_t i = 4; i < prints.size(); ++i)
        for (size_t k = 1; k <= 4; ++k)
            sink += *prints[i].computeDistance(prints[i - k]);
    const double coldMs = ms(t0, Clock::now());
    const double coldCpuMs = cpuMs() - cpu0;

    const fs::path& one = originals.front();
    const int runs = 7;
    std::optional<platform::ImageSource> source;
    std::optional<platform::Bitmap> thumb;
    platform::Bitmap input;
    // Wall time (median) and CPU time (mean, all threads) of each stage.
    struct Stage {
        const char* name;
        std::function<void()> work;
        double wallMs = 0, cpuMs = 0;
    };
    std::vector<Stage> stages = {
        {"open (header sniff)", [&] { source = platform::openImageSource(one); }},
        {"decode + 768 px thumbnail", [&] { thumb = platform::thumbnail(*source, 768); }},
        {"768 → 224 network input", [&] { input = ImageFeaturePrint::networkInput(*thumb); }},
        {"network (MobileNetV2 1.4)", [&] { (void)platform::ImageEmbedding::shared().feature(input); }},
        {"whole print", [&] { (void)ImageFeaturePrint::compute(one); }},
        {"baseline: full 24 MP decode", [&] { (void)platform::fullImage(*source); }},
    };
    for (auto& stage : stages) {
        const double cpu0 = cpuMs();
        stage.wallMs = bench::medianMs(runs, stage.work);
        stage.cpuMs = (cpuMs() - cpu0) / runs;
    }

    std::printf("feature print of a 24 MP JPEG (6000×4000), %d runs, 2 cores\n", runs);
    std::printf("  %-34s %12s %12s\n", "stage", "wall median", "CPU mean");
    for (const auto& stage : stages)
        std::printf("  %-34s %9.1f ms %9.1f ms\n", stage.name, stage.wallMs, stage.cpuMs);
    std::printf("  the full decode takes %.1f× the thumbnail's wall time\n",
                stages[5].wallMs / stages[1].wallMs);
    std::printf("cold pass, 20 exhibits × 5 photos (network load included): %.0f ms, %.3f s per photo "
                "(target < 0.3 s); CPU time %.3f s per photo%s\n",
                coldMs, coldMs / 1000.0 / double(shoot.size()), coldCpuMs / 1000.0 / double(shoot.size()),
                sink < 0 ? "?" : "");
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) std::printf("load average during the run: %.1f on 2 cores\n", load[0]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains("--fit")) {
        const int seedAt = int(args.indexOf("--first-seed"));
        const int objectsAt = int(args.indexOf("--objects"));
        return measureFits(seedAt > 0 ? args.at(seedAt + 1).toUInt() : 1u,
                           objectsAt > 0 ? args.at(objectsAt + 1).toInt() : 24);
    }
    return measureTime();
}
