// How well a run hides its own CPU work (text probe, decoding, toning, encoding) behind the
// model's latency, and what the offline engine costs per photo in process against the old route
// through a loopback HTTP server.
//
// First: organize runs on 24 MP label-card photos against a fake service that answers every
// request after 1 s. Target: run time ≤ 1.05 × requests × 1 s, plus the scan. The same work done
// one step after another (CPU work, then the request) is the baseline, measured in the same run.
// Second: the offline engine on rendered label cards and objects, classify and label read, by the
// HTTP route (prepare → JPEG → base64 → server → decode) and in process (prepared bitmap).

#include "support/Bench.h"
#include "support/FakeAIServer.h"
#include "support/Fixtures.h"

#include "ai/RemoteVisionBackend.h"
#include "classify/VisionTextProbe.h"
#include "engine/LocalAIService.h"
#include "engine/LocalVisionBackend.h"
#include "organize/AutoOrganizer.h"
#include "samples/Scenes.h"

#include <QGuiApplication>

#include <atomic>
#include <chrono>
#include <cstdio>

using namespace fixtures;
using bench::Clock;

namespace {

struct Timed {
    double ms = 0;
    int n = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const bool quick = app.arguments().contains("--quick");
    const int count = quick ? 6 : 16;
    TempDir work;

    // A 24 MP photo of a label card: the probe finds text at once, so every photo is prepared
    // and sent; the service calls each one an artifact, so there are no label reads.
    const fs::path master = work / "master.jpg";
    scenes::writePhoto(master, scenes::renderLabel(scenes::randomLabel(11), 11, 6000, 4000));
    FakeAIServer server;
    std::atomic<int> delayMs{0};
    server.setHandler([&](const FakeAIServer::Request&) {
        auto reply = FakeAIServer::chat(R"({"category":"artifact","confidence":0.9})");
        reply.delayMs = delayMs.load();
        return reply;
    });
    ai::RemoteVisionBackend remote({server.url(), "k", "m"});

    // What one request costs besides the service's own 1 s: the upload's base64 and JSON, the
    // loopback transfer, and the fake service's decoding of every image for its bookkeeping.
    const auto prepared = remote.prepare(master);
    auto t0 = Clock::now();
    for (int i = 0; i < 5; ++i)
        (void)remote.classify(master, *prepared);
    const double transferMs = bench::msSince(t0) / 5;
    delayMs = 1000;
    std::printf("a request to an instant service takes %.0f ms (transfer and the fake's own decoding)\n",
                transferMs);

    std::printf("Hiding CPU work: %d photos of 24 MP, a service that answers in 1 s\n", count);
    for (const bool prefilter : {false, true}) {
        const fs::path dir = work / (prefilter ? "with" : "without");
        bench::hardLinkShoot(master, dir, count);
        auto t = Clock::now();
        (void)ImageScanner::scanFolder(dir);
        const double scanMs = bench::msSince(t);
        const size_t before = server.requests().size();
        t = Clock::now();
        AutoOrganizer::RunOptions options;
        options.useVisionPrefilter = prefilter;
        const auto result = AutoOrganizer::run(dir, remote, core::logOnly([](const QString&) {}), options);
        const double runMs = bench::msSince(t);
        const size_t requests = server.requests().size() - before;
        // Baseline: the same CPU work and the same requests one after another.
        double cpuMs = 0;
        for (int i = 0; i < count; ++i) {
            t = Clock::now();
            if (prefilter) (void)VisionTextProbe::containsAnyText(master);
            (void)remote.prepare(master);
            cpuMs += bench::msSince(t);
        }
        const double sequentialMs = cpuMs + 1000.0 * double(requests) + scanMs;
        const double ratio = (runMs - scanMs) / (1000.0 * double(requests));
        const double hiddenRatio =
            (runMs - scanMs - transferMs * double(requests)) / (1000.0 * double(requests));
        std::printf(
            "  prefilter %-3s: %zu requests, run %.0f ms (scan %.0f ms), CPU work %.0f ms per photo\n",
            prefilter ? "on" : "off", requests, runMs, scanMs, cpuMs / count);
        std::printf(
            "                 run / (requests × 1 s) = %.3f (target ≤ 1.05); without the transfer %.3f; one "
            "after another it would be %.0f ms: %.2f× faster%s\n",
            ratio, hiddenRatio, sequentialMs, sequentialMs / runMs,
            result.errors.isEmpty() ? "" : " (errors!)");
    }

    // The offline engine, old route against new.
    std::printf("\nOffline engine, time per request (ms), HTTP loopback route against in process\n");
    engine::LocalAIServer service;
    if (!service.start().ok()) return 1;
    ai::RemoteVisionBackend overHttp({service.url(), engine::kApiKey, engine::kModelID});
    engine::LocalVisionBackend inProcess;
    const int cards = quick ? 3 : 8;
    Timed httpClassify, localClassify, httpLabel, localLabel;
    int agree = 0;
    for (int i = 0; i < cards; ++i) {
        const unsigned seed = 900u + unsigned(i);
        const fs::path label = work / ("label" + std::to_string(i) + ".jpg");
        const fs::path object = work / ("object" + std::to_string(i) + ".jpg");
        scenes::writePhoto(label, scenes::renderLabel(scenes::randomLabel(seed), seed, 4000, 3000));
        scenes::writePhoto(object, scenes::renderObject(seed, 4000, 3000));
        for (const auto& photo : {label, object}) {
            auto t = Clock::now();
            const auto viaHttp = overHttp.prepare(photo);
            const auto a = overHttp.classify(photo, *viaHttp);
            httpClassify.ms += bench::msSince(t);
            ++httpClassify.n;
            t = Clock::now();
            const auto local = inProcess.prepare(photo);
            const auto b = inProcess.classify(photo, *local);
            localClassify.ms += bench::msSince(t);
            ++localClassify.n;
            agree += a && b && a->category == b->category;
        }
        auto t = Clock::now();
        (void)overHttp.readLabel(label);
        httpLabel.ms += bench::msSince(t);
        ++httpLabel.n;
        t = Clock::now();
        (void)inProcess.readLabel(label);
        localLabel.ms += bench::msSince(t);
        ++localLabel.n;
    }
    std::printf("  classify (prepare + request): HTTP %.0f, in process %.0f (%.2f×); same answer %d/%d\n",
                httpClassify.ms / httpClassify.n, localClassify.ms / localClassify.n,
                httpClassify.ms / localClassify.ms, agree, httpClassify.n);
    std::printf("  label read (prepare + request): HTTP %.0f, in process %.0f (%.2f×)\n",
                httpLabel.ms / httpLabel.n, localLabel.ms / localLabel.n, httpLabel.ms / localLabel.ms);
    return 0;
}
