// Several requests in flight against one at a time: organize runs (dry, prefilter off) on 24
// photos, label cards and objects taken in turn, against a fake service that answers every
// request after 1 s. The run with one request at a time is the baseline, measured in the same
// run; every run must write exactly its log. Targets: 4 in flight ≤ 0.35 of its time, 8 ≤ 0.2.
// Then the peak resident memory of `vitrino-cli organize` with 8 in flight (target < 400 MB).

#include "support/Bench.h"
#include "support/FakeAIServer.h"
#include "support/Fixtures.h"

#include "ai/RemoteVisionBackend.h"
#include "core/ImageTriClassifier.h"
#include "organize/AutoOrganizer.h"
#include "platform/Process.h"
#include "samples/Scenes.h"

#include <QGuiApplication>

#include <cstdio>
#include <thread>

using namespace fixtures;
using bench::Clock;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    platform::reuseFreedBuffers(); // as the programs do
    const int count = 24;
    TempDir work;

    // 12 MP masters: a label card in landscape, an object in portrait, so that the service can
    // tell them apart by the uploaded image's shape.
    const fs::path label = work / "label.jpg";
    const fs::path object = work / "object.jpg";
    scenes::writePhoto(label, scenes::renderLabel(scenes::randomLabel(31), 31, 4000, 3000));
    scenes::writePhoto(object, scenes::renderObject(31, 3000, 4000));
    const fs::path dir = work / "shoot";
    fs::create_directories(dir);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        fs::create_hard_link(i % 2 ? label : object, dir / name);
    }

    FakeAIServer server;
    server.setHandler([](const FakeAIServer::Request& request) {
        FakeAIServer::Reply reply;
        if (request.prompt == ImageTriClassifier::kPrompt)
            reply = FakeAIServer::chat(request.imageWidth > request.imageHeight
                                           ? R"({"category":"label","confidence":0.9})"
                                           : R"({"category":"artifact","confidence":0.9})");
        else
            reply =
                FakeAIServer::chat(R"({"文物名称":"青铜鼎","文物来源":"安阳殷墟出土","年代":"商代晚期"})");
        reply.delayMs = 1000;
        return reply;
    });
    ai::RemoteVisionBackend remote({server.url(), "k", "m"});

    // The CPU work each photo needs before its request (decode, tone, encode): on 2 cores it sets
    // the floor once the requests are no longer the bottleneck.
    const double prepareMs = bench::medianMs(3,
                                             [&] {
                                                 (void)remote.prepare(label);
                                                 (void)remote.prepare(object);
                                             }) /
                             2;
    std::printf("preparation %.0f ms per photo; %u cores\n", prepareMs, std::thread::hardware_concurrency());
    std::printf("%d photos (12 label cards, 12 objects, 12 MP), prefilter off, dry run, a service that "
                "answers in 1 s\n",
                count);
    QStringList baselineLines;
    double baselineMs = 0;
    for (const int inFlight : {1, 4, 8}) {
        const size_t before = server.requests().size();
        AutoOrganizer::RunOptions options;
        options.useVisionPrefilter = false;
        options.dryRun = true;
        options.requestsInFlight = inFlight;
        QStringList lines;
        const auto t = Clock::now();
        const auto result =
            AutoOrganizer::run(dir, remote, core::logOnly([&](const QString& l) { lines << l; }), options);
        const double ms = bench::msSince(t);
        const size_t requests = server.requests().size() - before;
        if (inFlight == 1) {
            baselineLines = lines;
            baselineMs = ms;
        }
        std::printf("  %d in flight: %zu requests, %.0f ms, %.3f of one at a time%s; most at once at the "
                    "service %d; log %s%s\n",
                    inFlight, requests, ms, ms / baselineMs,
                    inFlight == 4   ? " (target ≤ 0.35)"
                    : inFlight == 8 ? " (target ≤ 0.2)"
                                    : "",
                    server.mostAtOnce(), lines == baselineLines ? "identical" : "DIFFERENT",
                    result.errors.isEmpty() ? "" : " (errors!)");
    }

    // Peak memory of the command line, one at a time and 8 in flight.
    const QString cli = QStringLiteral(VITRINO_CLI_PATH);
    qputenv("VITRINO_API_KEY", "bench");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((work / "data").string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((work / "config").string()));
    for (const int inFlight : {1, 8}) {
        const auto t = Clock::now();
        const double rss = bench::peakRssOfRunMb(
            cli, {"organize", QString::fromStdString(dir.string()), "--dry-run", "--no-prefilter",
                  "--requests", QString::number(inFlight), "--base-url", server.url()});
        std::printf("  vitrino-cli organize --requests %d: %.0f ms, peak RSS %.0f MB%s\n", inFlight,
                    bench::msSince(t), rss, inFlight == 8 ? " (target < 400 MB)" : "");
    }
    return 0;
}
