// The offline engine on rendered exhibitions: classification accuracy per class, label fields
// read exactly, the share of photographs placed in the right exhibit folder after a full
// organize run, and the time of one request per prompt kind.

#include "support/Bench.h"
#include "support/Fixtures.h"

#include "ai/AIClient.h"
#include "ai/RemoteVisionBackend.h"
#include "classify/ImageTriClassifier.h"
#include "engine/LocalAIService.h"
#include "engine/LocalVisionBackend.h"
#include "labels/RelicLabelExtracted.h"
#include "organize/AutoOrganizer.h"
#include "samples/SampleShoot.h"

#include <QGuiApplication>

#include <chrono>
#include <cstdio>
#include <map>

using namespace fixtures;
using Clock = std::chrono::steady_clock;
using Kind = samples::SampleShot::Kind;

namespace {

double since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

struct Tally {
    int total = 0, right = 0;
    double ms = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const bool quick = app.arguments().contains("--quick");
    const int shows = quick ? 1 : 5, exhibits = quick ? 4 : 12;

    engine::LocalAIServer server;
    if (!server.start().ok()) return 1;
    engine::LocalVisionBackend inProcess;
    if (app.arguments().contains("--labels-only")) {
        // Label cards alone, straight through the engine: a quick loop for the reading rules.
        TempDir cards;
        const ai::AISettings local{server.url(), engine::kApiKey, engine::kModelID};
        int names = 0, sources = 0, periods = 0, n = 0;
        for (int show = 0; show < 5; ++show)
            for (int e = 0; e < 12; ++e) {
                const unsigned seed = (40u + unsigned(show)) * 1000u + unsigned(e);
                const auto card = scenes::randomLabel(seed);
                const fs::path file = cards / ("card" + std::to_string(n++) + ".jpg");
                scenes::writePhoto(file, scenes::renderLabel(card, seed + 107u, 2400, 1600));
                const auto read = ai::RemoteVisionBackend(local).readLabel(file);
                const RelicLabelExtracted got = read ? *read : RelicLabelExtracted{};
                names += got.name == card.name;
                sources += got.source == card.source;
                periods += got.period == card.period;
                if (got.name != card.name || got.source != card.source || got.period != card.period)
                    std::printf("%s | %s | %s   (want %s | %s | %s)\n", got.name.toUtf8().constData(),
                                got.source.toUtf8().constData(), got.period.toUtf8().constData(),
                                card.name.toUtf8().constData(), card.source.toUtf8().constData(),
                                card.period.toUtf8().constData());
            }
        std::printf("names %d/%d, sources %d/%d, periods %d/%d\n", names, n, sources, n, periods, n);
        return 0;
    }
    const ai::AISettings settings{server.url(), engine::kApiKey, engine::kModelID};
    TempDir work;

    std::map<QString, Tally> classes, fields, requests;
    Tally placed;
    for (int show = 0; show < shows; ++show) {
        const fs::path dir = work / ("show" + std::to_string(show));
        const auto shoot = samples::makeSampleShoot(dir, exhibits, 40u + unsigned(show));

        // Classification and label reading, one request per photograph.
        for (const auto& shot : shoot.shots) {
            if (shot.kind == Kind::raw || shot.kind == Kind::video) continue;
            const QString expected = shot.kind == Kind::label   ? "label"
                                     : shot.kind == Kind::panel ? "panel"
                                                                : "artifact";
            auto t = Clock::now();
            const auto reply =
                AIClient::chatWithImage(dir / shot.fileName, ImageTriClassifier::kPrompt, settings, 128);
            const double ms = since(t);
            Tally& c = classes[expected];
            ++c.total;
            c.ms += ms;
            if (reply && rawValue(ImageTriClassifier::parse(*reply).category) == expected) ++c.right;
            requests["classify " + expected].ms += ms;
            ++requests["classify " + expected].total;
            if (shot.kind != Kind::label) continue;

            t = Clock::now();
            const auto read = ai::RemoteVisionBackend(settings).readLabel(dir / shot.fileName);
            requests["label read"].ms += since(t);
            ++requests["label read"].total;
            const auto& truth = shoot.labels[size_t(shot.exhibit)];
            const RelicLabelExtracted got = read ? *read : RelicLabelExtracted{};
            const auto check = [&](const char* field, const QString& value, const QString& want) {
                Tally& f = fields[field];
                ++f.total;
                f.right += RelicLabelExtracted::normalizeFieldForPathAndPersistence(value) ==
                           RelicLabelExtracted::normalizeFieldForPathAndPersistence(want);
            };
            check("name", got.name, truth.name);
            check("source", got.source, truth.source);
            check("period", got.period, truth.period);
            if (app.arguments().contains("--verbose"))
                std::printf("%s | %s | %s   (want %s | %s | %s)\n", got.name.toUtf8().constData(),
                            got.source.toUtf8().constData(), got.period.toUtf8().constData(),
                            truth.name.toUtf8().constData(), truth.source.toUtf8().constData(),
                            truth.period.toUtf8().constData());
        }

        // A full organize run, then: is each photograph in its exhibit's folder?
        const auto result = AutoOrganizer::run(dir, inProcess, core::logOnly([](const QString&) {}), {});
        std::map<std::string, std::string> folderOf; // file name → folder
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            if (entry.is_regular_file())
                folderOf[entry.path().filename().string()] =
                    fs::relative(entry.path().parent_path(), dir).string();
        std::map<int, std::string> exhibitFolder; // by the label photo's folder
        for (const auto& shot : shoot.shots)
            if (shot.kind == Kind::label) exhibitFolder[shot.exhibit] = folderOf[shot.fileName];
        for (const auto& shot : shoot.shots) {
            ++placed.total;
            const std::string want = shot.kind == Kind::panel ? "0 展板" : exhibitFolder[shot.exhibit];
            placed.right += folderOf[shot.fileName] == want && !want.empty() && want != ".";
        }
        (void)result;
    }

    std::printf("\nclassification by the offline engine (%d exhibitions of %d exhibits)\n", shows, exhibits);
    for (const auto& [name, t] : classes)
        std::printf("  %-9s %3d/%-3d %5.1f %%\n", name.toUtf8().constData(), t.right, t.total,
                    100.0 * t.right / t.total);
    std::printf("label fields read exactly\n");
    for (const auto& [name, t] : fields)
        std::printf("  %-9s %3d/%-3d %5.1f %%\n", name.toUtf8().constData(), t.right, t.total,
                    100.0 * t.right / t.total);
    std::printf("photographs placed in the right folder after organize: %d/%d %.1f %%\n", placed.right,
                placed.total, 100.0 * placed.right / placed.total);
    std::printf("mean time per request (2 cores)\n");
    for (const auto& [name, t] : requests)
        std::printf("  %-18s %6.0f ms\n", name.toUtf8().constData(), t.ms / std::max(1, t.total));
    return 0;
}
