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
//
// --candidates [--cutouts cat1,cat2 | --first-seed N] [--objects N] [--seed N]: the print recipes
// (layers of the network, pooling, crops, colour layout; --only 'name;name' to pick some) on exhibits
// photographed 6 times each, either rendered objects or photographed cut-outs of real objects
// (support/ObjectPhotos.h). For each pair of neighbouring exhibits A, B it makes the refinement pass's
// decision: views 3 and 4 of A, shot after A's label, go back when they are nearer to A's views 0–2 than to
// B's anchor (view 5); B's views 0–4 must stay. What FEATURE_PRINT.md's table is made from.

#include "platform/ModelFiles.h"
#include "refine/ImageFeaturePrint.h"
#include "samples/Scenes.h"
#include "support/Bench.h"
#include "support/Fixtures.h"
#include "support/ObjectPhotos.h"

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

struct Candidate {
    const char* name;
    refine::FeaturePrintRecipe recipe;
};

std::vector<Candidate> candidates() {
    const std::string last = "MobilenetV2/Conv_1/Relu6";
    const std::string b16 = "MobilenetV2/expanded_conv_16/expand/Relu6";
    const std::string b13 = "MobilenetV2/expanded_conv_13/expand/Relu6";
    const std::string b10 = "MobilenetV2/expanded_conv_10/expand/Relu6";
    const std::string b6 = "MobilenetV2/expanded_conv_6/expand/Relu6";
    using P = platform::Pooling;
    return {
        {"colour layout alone", {{}, P::average, 1, 0, 1}},
        {"final layer (before)", {{{last, 1}}}},
        {"final, cubic mean", {{{last, 1}}, P::cubicMean}},
        {"final, weighted", {{{last, 1}}, P::weighted}},
        {"final, centre", {{{last, 1}}, P::centre}},
        {"final, root", {{{last, 1}}, P::average, 1, 0, 0, true}},
        {"final, weighted, root", {{{last, 1}}, P::weighted, 1, 0, 0, true}},
        {"final, mirrored too", {{{last, 1}}, P::average, 2}},
        {"final + focus", {{{last, 1}}, P::average, 1, 1}},
        {"final, focus alone", {{{last, 1}}, P::average, 1, 2}},
        {"final + focus, weighted", {{{last, 1}}, P::weighted, 1, 1}},
        {"final, 3 crops", {{{last, 1}}, P::average, 3}},
        {"final, 3 crops + colour 0.3", {{{last, 1}}, P::average, 3, 0, 0.3f}},
        {"final, 5 crops", {{{last, 1}}, P::average, 5}},
        {"final + colour 0.3", {{{last, 1}}, P::average, 1, 0, 0.3f}},
        {"final + colour 0.5", {{{last, 1}}, P::average, 1, 0, 0.5f}},
        {"block 16", {{{b16, 1}}}},
        {"block 13", {{{b13, 1}}}},
        {"block 13, cubic mean", {{{b13, 1}}, P::cubicMean}},
        {"block 10", {{{b10, 1}}}},
        {"block 6", {{{b6, 1}}}},
        {"block 13 + final", {{{b13, 1}, {last, 1}}}},
        {"block 13 + block 16", {{{b13, 1}, {b16, 1}}}},
        {"block 10 + 13 + 16", {{{b10, 1}, {b13, 1}, {b16, 1}}}},
    };
}

std::vector<std::string> splitList(const QString& text) {
    std::vector<std::string> out;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        out.push_back(part.toStdString());
    return out;
}

/// As a camera leaves it: encoded at JPEG quality 90 and decoded, then the 768 px thumbnail.
platform::Bitmap asThumbnail(const platform::Bitmap& photo) {
    const auto bytes = platform::encodeJpeg(photo, 90);
    const auto decoded = bytes ? platform::decodeImageBytes(*bytes) : std::nullopt;
    return platform::fitWithin(decoded ? *decoded : photo, ImageFeaturePrint::kThumbnailSide);
}

int measureCandidates(const QStringList& args) {
    constexpr unsigned kViews = 6;
    auto option = [&](const char* name) {
        const qsizetype at = args.indexOf(QString::fromLatin1(name));
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
    };
    const unsigned seed = option("--seed").isEmpty() ? 1u : option("--seed").toUInt();
    int objects = option("--objects").isEmpty() ? 24 : option("--objects").toInt();
    const QString only = option("--only");
    // thumbnails[o][v]
    std::vector<std::vector<platform::Bitmap>> thumbnails;
    QString what;
    if (!option("--cutouts").isEmpty()) {
        const auto cutOuts = bench::loadCutOuts(splitList(option("--cutouts")));
        if (cutOuts.size() < 2) {
            std::fprintf(stderr, "no cut-outs under %s (apt-get install tuxpaint-stamps-default)\n",
                         bench::kCutOutRoot.c_str());
            return 1;
        }
        objects = std::min<int>(objects, int(cutOuts.size()));
        const bench::Hall hall = bench::hallFor(seed);
        for (int o = 0; o < objects; ++o) {
            // Spread over the whole list, neighbours in name order.
            const auto& cutOut = cutOuts[size_t(o) * cutOuts.size() / size_t(objects)];
            thumbnails.emplace_back();
            for (unsigned v = 0; v < kViews; ++v)
                thumbnails.back().push_back(asThumbnail(
                    bench::photographCutOut(cutOut, hall, seed * 1000 + unsigned(o), v, 1600, 1200)));
        }
        what = QStringLiteral("%1 cut-outs of %2 (of %3), hall seed %4")
                   .arg(objects)
                   .arg(option("--cutouts"))
                   .arg(cutOuts.size())
                   .arg(seed);
    } else {
        const unsigned first = option("--first-seed").isEmpty() ? 1u : option("--first-seed").toUInt();
        for (int o = 0; o < objects; ++o) {
            const unsigned objectSeed = first + unsigned(o);
            thumbnails.emplace_back();
            for (unsigned v = 0; v < kViews; ++v)
                thumbnails.back().push_back(asThumbnail(
                    scenes::renderObject(scenes::ObjectKind(objectSeed % 4), objectSeed, 1600, 1200, v)));
        }
        what = QStringLiteral("%1 rendered objects, seeds %2–%3")
                   .arg(objects)
                   .arg(first)
                   .arg(first + objects - 1);
    }
    std::printf("%s, %u views each; pairs of neighbours: %d\n", what.toUtf8().constData(), kViews,
                objects - 1);
    std::printf("%-24s %10s %14s %9s\n", "print", "returned", "wrongly moved", "ms/photo");
    for (const auto& candidate : candidates()) {
        if (!only.isEmpty() && !only.split(QLatin1Char(';')).contains(QString::fromUtf8(candidate.name)))
            continue;
        std::vector<std::vector<FeaturePrintObservation>> prints;
        const double cpu0 = cpuMs();
        for (const auto& views : thumbnails) {
            prints.emplace_back();
            for (const auto& thumb : views) {
                auto print = ImageFeaturePrint::ofThumbnail(thumb, candidate.recipe);
                if (!print) {
                    std::fprintf(stderr, "%s\n", print.error().text.toUtf8().constData());
                    return 1;
                }
                prints.back().push_back(*print);
            }
        }
        const double perPhoto = (cpuMs() - cpu0) / double(objects * int(kViews));
        int returned = 0, misplaced = 0, wrong = 0, stays = 0;
        auto nearerToA = [&](const FeaturePrintObservation& p, int a, int b) {
            float dA = std::numeric_limits<float>::max();
            for (unsigned s = 0; s < 3; ++s)
                dA = std::min(dA, *p.computeDistance(prints[size_t(a)][s]));
            return dA < *p.computeDistance(prints[size_t(b)][kViews - 1]);
        };
        for (int a = 0; a + 1 < objects; ++a) {
            for (unsigned v = 3; v < 5; ++v, ++misplaced)
                returned += nearerToA(prints[size_t(a)][v], a, a + 1);
            for (unsigned v = 0; v < 5; ++v, ++stays)
                wrong += nearerToA(prints[size_t(a + 1)][v], a, a + 1);
        }
        std::printf("%-24s %5d/%-4d %8d/%-5d %9.1f   %5.1f %%  %4.1f %%\n", candidate.name, returned,
                    misplaced, wrong, stays, perPhoto, 100.0 * returned / misplaced, 100.0 * wrong / stays);
        std::fflush(stdout);
    }
    std::printf("ms/photo: CPU time of the print of one 768 px thumbnail (all threads)\n");
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

    // Cold: a fresh network, loaded inside the first print, as in a refinement pass; the print of
    // before (the final layer alone) first, as the baseline, then the application's.
    struct Cold {
        const char* name;
        refine::FeaturePrintRecipe recipe;
        double wallMs = 0, cpuMs = 0;
    };
    std::vector<Cold> colds = {{"before: final layer alone", {{{"MobilenetV2/Conv_1/Relu6", 1}}}},
                               {"application print", ImageFeaturePrint::recipe()}};
    float sink = 0;
    for (Cold& cold : colds) {
        platform::ImageEmbedding network(platform::modelsDirectory());
        const auto t0 = Clock::now();
        const double cpu0 = cpuMs();
        std::vector<FeaturePrintObservation> prints;
        for (const auto& file : shoot) {
            const auto thumb = ImageFeaturePrint::thumbnail(file);
            auto print =
                thumb ? ImageFeaturePrint::ofThumbnail(*thumb, cold.recipe, ImageFeaturePrint::kFit, network)
                      : core::Result<FeaturePrintObservation>(core::Error{QStringLiteral("unreadable")});
            if (!print) {
                std::fprintf(stderr, "%s\n", print.error().text.toUtf8().constData());
                return 1;
            }
            prints.push_back(*print);
        }
        // A pass compares each candidate with up to 3 samples and one anchor.
        for (size_t i = 4; i < prints.size(); ++i)
            for (size_t k = 1; k <= 4; ++k)
                sink += *prints[i].computeDistance(prints[i - k]);
        cold.wallMs = ms(t0, Clock::now());
        cold.cpuMs = cpuMs() - cpu0;
    }

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
        {"network (MobileNetV2 1.4), one pass",
         [&] { (void)platform::ImageEmbedding::shared().feature(input); }},
        {"print of the thumbnail (recipe)", [&] { (void)ImageFeaturePrint::ofThumbnail(*thumb); }},
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
                stages[6].wallMs / stages[1].wallMs);
    for (const Cold& cold : colds)
        std::printf(
            "cold pass, 20 exhibits × 5 photos (network load included), %s: %.0f ms, %.3f s per photo "
            "(target < 0.3 s); CPU time %.3f s per photo%s\n",
            cold.name, cold.wallMs, cold.wallMs / 1000.0 / double(shoot.size()),
            cold.cpuMs / 1000.0 / double(shoot.size()), sink < 0 ? "?" : "");
    std::printf("application print / before: %.2f× wall, %.2f× CPU\n", colds[1].wallMs / colds[0].wallMs,
                colds[1].cpuMs / colds[0].cpuMs);
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) std::printf("load average during the run: %.1f on 2 cores\n", load[0]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains("--candidates")) return measureCandidates(args);
    if (args.contains("--fit")) {
        const int seedAt = int(args.indexOf("--first-seed"));
        const int objectsAt = int(args.indexOf("--objects"));
        return measureFits(seedAt > 0 ? args.at(seedAt + 1).toUInt() : 1u,
                           objectsAt > 0 ? args.at(objectsAt + 1).toInt() : 24);
    }
    return measureTime();
}
