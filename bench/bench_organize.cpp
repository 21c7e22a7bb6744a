// The organize run on 200 generated 24 MP photographs with an AI service that answers at once,
// with and without the prefilter: milliseconds per photo, peak RSS of vitrino-cli organize, and
// the share of time in each stage (measured by running the stages one by one on the same files).
// Then the offline organize of a rendered 12 MP shoot (dry run, so both runs see the same files).
// With --baseline CLI (a vitrino-cli built from an earlier commit), every run is made with both
// programs in turn, and the ratios (ours / baseline) and whether the logs are identical are printed.
// With --shoot DIR it only renders the 12 MP shoot into DIR (12 exhibits, or 4 with --quick), for
// profiling the offline organize by hand.

#include "support/Bench.h"
#include "support/FakeAIServer.h"
#include "support/Fixtures.h"

#include "ai/AIClient.h"
#include "ai/RAWJPEGExporter.h"
#include "classify/VisionTextProbe.h"
#include "intake/ImageScanner.h"
#include "organize/AutoOrganizer.h"
#include "samples/Scenes.h"

#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <chrono>
#include <cstdio>

using namespace fixtures;
using bench::Clock;

namespace {

struct CliRun {
    double wallMs = -1, cpuMs = -1, peakMb = -1;
    QStringList lines; ///< stdout without the time stamps
};

/// One run of a command line through GNU time: wall and CPU time, peak RSS and its output.
CliRun timedRun(const QString& program, const QStringList& args) {
    CliRun run;
    QTemporaryFile report;
    if (!report.open()) return run;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto t = Clock::now();
    process.start(QStringLiteral("/usr/bin/time"),
                  QStringList{"-f", "%U %S %M", "-o", report.fileName(), program} + args);
    if (!process.waitForFinished(3600000) || process.exitStatus() != QProcess::NormalExit) return run;
    run.wallMs = bench::msSince(t);
    const QStringList numbers = QString::fromUtf8(report.readAll().trimmed()).split('\n').last().split(' ');
    if (numbers.size() == 3) {
        run.cpuMs = (numbers[0].toDouble() + numbers[1].toDouble()) * 1000;
        run.peakMb = numbers[2].toDouble() / 1024;
    }
    static const QRegularExpression stamp(QStringLiteral("^[0-9]{2}:[0-9]{2}:[0-9]{2} "));
    for (QString line : QString::fromUtf8(process.readAllStandardOutput()).split('\n')) {
        line.remove(stamp);
        if (!line.startsWith(QStringLiteral("日志文件："))) run.lines << line; // named by the time
    }
    return run;
}

/// A shoot of `exhibits` exhibits at 4000 × 3000 (12 MP): a panel every fourth exhibit, three
/// views of each object, then its label card, with capture dates in that order.
int renderShoot12MP(const fs::path& dir, int exhibits) {
    fs::create_directories(dir);
    QDateTime clock(QDate(2024, 5, 1), QTime(10, 0), Qt::LocalTime);
    int number = 1;
    auto write = [&](const platform::Bitmap& image) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", number++);
        clock = clock.addSecs(30);
        scenes::writePhoto(dir / name, image, clock.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")));
    };
    constexpr int w = 4000, h = 3000;
    for (int e = 0; e < exhibits; ++e) {
        const unsigned seed = 7100u + unsigned(e);
        if (e % 4 == 0) write(scenes::renderPanel(seed, w, h));
        const auto kind = static_cast<scenes::ObjectKind>(e % 4);
        for (unsigned v = 0; v < 3; ++v)
            write(scenes::renderObject(kind, seed, w, h, v));
        write(scenes::renderLabel(scenes::randomLabel(seed), seed + 7u, w, h));
    }
    return number - 1;
}

void printComparison(const char* what, int photos, const CliRun& ours, const CliRun* base) {
    std::printf("%s: ours %.0f ms per photo (CPU %.0f ms), peak RSS %.0f MB", what, ours.wallMs / photos,
                ours.cpuMs / photos, ours.peakMb);
    if (base)
        std::printf("; baseline %.0f ms per photo (CPU %.0f ms), peak RSS %.0f MB; ratio %.3f (CPU %.3f); "
                    "logs %s",
                    base->wallMs / photos, base->cpuMs / photos, base->peakMb, ours.wallMs / base->wallMs,
                    ours.cpuMs / base->cpuMs, ours.lines == base->lines ? "identical" : "DIFFER");
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList options = app.arguments();
    const int count = options.contains("--quick") ? 20 : 200;
    const int baselineAt = int(options.indexOf("--baseline"));
    const QString baseline =
        baselineAt > 0 && baselineAt + 1 < options.size() ? options.at(baselineAt + 1) : QString();
    const bool offlineOnly = options.contains("--offline-only");
    if (const int shootAt = int(options.indexOf("--shoot")); shootAt > 0 && shootAt + 1 < options.size()) {
        const int photos =
            renderShoot12MP(options.at(shootAt + 1).toStdString(), options.contains("--quick") ? 4 : 12);
        std::printf("%d photos\n", photos);
        return 0;
    }
    TempDir work;
    const QString cli = QStringLiteral(VITRINO_CLI_PATH);
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((work / "data").string()));
    if (!offlineOnly) {
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
                QStringLiteral(R"({"文物名称":"器物%1","文物来源":"遗址","年代":"汉","其他":""})")
                    .arg(++labels));
        });
        const ai::AISettings settings{server.url(), "k", "m"};

        // Stage shares on one copy of the shoot (not when comparing with a baseline).
        if (baseline.isEmpty()) {
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
                (void)AIClient::chatWithImage(info.path, ImageTriClassifier::kPrompt, settings, 128,
                                              *prepared);
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

            std::printf(
                "stage times for %d photos (ms per photo): scan %.2f, prepare %.1f, probe %.1f, request "
                "%.1f, moves %.3f\n",
                count, scanMs / count, prepareMs / count, probeMs / count, requestMs / count,
                movesMs / count);
            const double withoutPrefilter = scanMs + prepareMs + requestMs + movesMs;
            const double withPrefilter = scanMs + probeMs + movesMs; // text-free photos never reach the model
            std::printf(
                "shares without prefilter: scan %.1f%%, prepare %.1f%%, request %.1f%%, moves %.1f%%\n",
                100 * scanMs / withoutPrefilter, 100 * prepareMs / withoutPrefilter,
                100 * requestMs / withoutPrefilter, 100 * movesMs / withoutPrefilter);
            std::printf("shares with prefilter (text-free photos): scan %.1f%%, probe %.1f%%, moves %.1f%%\n",
                        100 * scanMs / withPrefilter, 100 * probeMs / withPrefilter,
                        100 * movesMs / withPrefilter);
        }

        // Whole runs of the command line, each on a fresh copy, ours and the baseline in turn, three
        // rounds with the fastest run of each counted (the cores are shared); then the prefilter's
        // cost per photo: the run with it less the run without.
        qputenv("VITRINO_API_KEY", "bench");
        CliRun best[2][2]; // [with the prefilter][ours, the baseline's]
        for (int round = 0; round < 3; ++round)
            for (const bool prefilter : {false, true})
                for (int which = 0; which < (baseline.isEmpty() ? 1 : 2); ++which) {
                    // The same folder name for both programs, so that their logs compare line by line.
                    const fs::path dir = work / ("run" + std::to_string(round) + std::to_string(which)) /
                                         (prefilter ? "with" : "without");
                    bench::hardLinkShoot(master, dir, count);
                    QStringList args{"organize", QString::fromStdString(dir.string()), "--base-url",
                                     server.url()};
                    if (!prefilter) args << "--no-prefilter";
                    {
                        // Both programs get the same replies in the same order.
                        const std::lock_guard lock(mutex);
                        answered = labels = 0;
                    }
                    const CliRun run = timedRun(which == 0 ? cli : baseline, args);
                    CliRun& kept = best[prefilter][which];
                    if (kept.wallMs < 0 || run.wallMs < kept.wallMs) kept = run;
                }
        for (const bool prefilter : {false, true}) {
            const QString what = QStringLiteral("organize %1 × 24 MP %2 prefilter")
                                     .arg(count)
                                     .arg(prefilter ? "with" : "without");
            printComparison(what.toUtf8().constData(), count, best[prefilter][0],
                            baseline.isEmpty() ? nullptr : &best[prefilter][1]);
        }
        const auto cost = [&](int which, double CliRun::*measure) {
            return (best[1][which].*measure - best[0][which].*measure) / count;
        };
        std::printf("prefilter cost per photo: ours %.0f ms (CPU %.0f ms)", cost(0, &CliRun::wallMs),
                    cost(0, &CliRun::cpuMs));
        if (!baseline.isEmpty())
            std::printf("; baseline %.0f ms (CPU %.0f ms); ratio %.3f (CPU %.3f)", cost(1, &CliRun::wallMs),
                        cost(1, &CliRun::cpuMs), cost(0, &CliRun::wallMs) / cost(1, &CliRun::wallMs),
                        cost(0, &CliRun::cpuMs) / cost(1, &CliRun::cpuMs));
        std::printf("\n");
    }

    // The offline organize of a rendered 12 MP shoot: a dry run, so both programs read the same
    // files; twice each, in turn, the faster run counted.
    const int exhibits = options.contains("--quick") ? 4 : 12;
    const fs::path shoot = work / "shoot12";
    const int photos = renderShoot12MP(shoot, exhibits);
    const QStringList args{"organize", QString::fromStdString(shoot.string()), "--engine", "local",
                           "--dry-run"};
    CliRun best[2];
    for (int round = 0; round < 2; ++round)
        for (int which = 0; which < (baseline.isEmpty() ? 1 : 2); ++which) {
            const CliRun run = timedRun(which == 0 ? cli : baseline, args);
            if (best[which].wallMs < 0 || run.wallMs < best[which].wallMs) best[which] = run;
        }
    const QString what = QStringLiteral("offline organize (dry run) of %1 × 12 MP").arg(photos);
    printComparison(what.toUtf8().constData(), photos, best[0], baseline.isEmpty() ? nullptr : &best[1]);
    if (!baseline.isEmpty() && best[0].lines != best[1].lines)
        for (qsizetype i = 0; i < std::max(best[0].lines.size(), best[1].lines.size()); ++i)
            if (best[0].lines.value(i) != best[1].lines.value(i))
                std::printf("  line %lld: ours \"%s\" baseline \"%s\"\n", (long long)i,
                            best[0].lines.value(i).toUtf8().constData(),
                            best[1].lines.value(i).toUtf8().constData());
    return 0;
}
