// The organize run on 200 generated 24 MP photographs with an AI service that answers at once,
// with and without the prefilter: milliseconds per photo, peak RSS of vitrino-cli organize, and
// the share of time in each stage (measured by running the stages one by one on the same files).

#include "support/Bench.h"
#include "support/FakeAIServer.h"
#include "support/Fixtures.h"

#include "ai/AIClient.h"
#include "ai/RAWJPEGExporter.h"
#include "classify/VisionTextProbe.h"
#include "intake/ImageScanner.h"
#include "organize/AutoOrganizer.h"

#include <QGuiApplication>

#include <chrono>
#include <cstdio>

using namespace fixtures;
using bench::Clock;

namespace {} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = app.arguments().contains("--quick") ? 20 : 200;
    TempDir work;
    const fs::path master = work / "master.jpg";
    bench::writeRealisticJpeg(master, 6000, 4000);

    FakeAIServer server;
    int answered = 0, labels = 0;
    std::mutex mutex;
    server.setHandler([&](const FakeAIServer::Request& r) {
        std::lock_guard lock(mutex);
        if (r.prompt == ImageTriClassifier::kPrompt)
            return FakeAIServer::chat(++answered % 5 == 0 ? R"({"category":"label"})"
                                                          : R"({"category":"artifact"})");
        return FakeAIServer::chat(
            QStringLiteral(R"({"文物名称":"器物%1","文物来源":"遗址","年代":"汉","其他":""})").arg(++labels));
    });
    const ai::AISettings settings{server.url(), "k", "m"};
    const QString cli = QStringLiteral(VITRINO_CLI_PATH);

    // Stage shares on one copy of the shoot.
    const fs::path stages = work / "stages";
    bench::hardLinkShoot(master, stages, count);
    auto t = Clock::now();
    const auto scan = ImageScanner::scanFolder(stages);
    const double scanMs = bench::msSince(t);
    double prepareMs = 0, probeMs = 0, requestMs = 0;
    for (const auto& info : scan->images) {
        t = Clock::now();
        const auto prepared = RAWJPEGExporter::prepareForUpload(info.path);
        prepareMs += bench::msSince(t);
        t = Clock::now();
        (void)VisionTextProbe::containsAnyText(info.path);
        probeMs += bench::msSince(t);
        t = Clock::now();
        (void)AIClient::chatWithImage(info.path, ImageTriClassifier::kPrompt, settings, 128, *prepared);
        requestMs += bench::msSince(t);
    }
    const fs::path movesDir = work / "moves";
    bench::hardLinkShoot(master, movesDir, count);
    std::vector<AutoOrganizer::PlannedGroup> groups(1);
    groups[0].folderName = "1 器物";
    groups[0].files = ImageScanner::scanFolder(movesDir)->images;
    QStringList errors;
    t = Clock::now();
    AutoOrganizer::executeMoves(movesDir, groups, core::logOnly([](const QString&) {}), errors);
    const double movesMs = bench::msSince(t);

    std::printf("stage times for %d photos (ms per photo): scan %.2f, prepare %.1f, probe %.1f, request "
                "%.1f, moves %.3f\n",
                count, scanMs / count, prepareMs / count, probeMs / count, requestMs / count,
                movesMs / count);
    const double withoutPrefilter = scanMs + prepareMs + requestMs + movesMs;
    const double withPrefilter = scanMs + probeMs + movesMs; // text-free photos never reach the model
    std::printf("shares without prefilter: scan %.1f%%, prepare %.1f%%, request %.1f%%, moves %.1f%%\n",
                100 * scanMs / withoutPrefilter, 100 * prepareMs / withoutPrefilter,
                100 * requestMs / withoutPrefilter, 100 * movesMs / withoutPrefilter);
    std::printf("shares with prefilter (text-free photos): scan %.1f%%, probe %.1f%%, moves %.1f%%\n",
                100 * scanMs / withPrefilter, 100 * probeMs / withPrefilter, 100 * movesMs / withPrefilter);

    // Whole runs of the command line, each on a fresh copy.
    for (const bool prefilter : {false, true}) {
        const fs::path dir = work / (prefilter ? "with" : "without");
        bench::hardLinkShoot(master, dir, count);
        QStringList args{"organize", QString::fromStdString(dir.string()), "--base-url", server.url()};
        if (!prefilter) args << "--no-prefilter";
        qputenv("VITRINO_API_KEY", "bench");
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString((work / "data").string()));
        t = Clock::now();
        const double rss = bench::peakRssOfRunMb(cli, args);
        const double total = bench::msSince(t);
        std::printf("organize %d × 24 MP %s prefilter: %.0f ms per photo, peak RSS %.0f MB\n", count,
                    prefilter ? "with" : "without", total / count, rss);
    }
    return 0;
}
