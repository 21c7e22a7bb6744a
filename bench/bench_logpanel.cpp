// The log panel under a flood: 100,000 lines posted from a worker thread as fast as it can, into
// a shown panel. Measures the longest stall of the GUI thread (a 10 ms timer's longest gap), the
// time until every line is listed, the memory the lines take, and the band computation's cost at
// two sizes (one linear pass: twice the lines, twice the time). Baseline in the same run: the
// same flood posted as one queued call per line.

#include "app/LogPanel.h"
#include "app/LogPump.h"
#include "services/LogStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

constexpr int kLines = 100000;

double rssMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

QString sampleLine(int i) {
    const QTime time(10, 0, 0);
    switch (i % 4) {
    case 0:
        return LogStore::stamped(
            QStringLiteral("[%1/%2] Vision 粗筛：IMG_%3.JPG → 文物（Vision：未检测到文字）")
                .arg(i / 4 + 1)
                .arg(kLines / 4)
                .arg(i, 5, 10, QLatin1Char('0')),
            time);
    case 1:
        return LogStore::stamped(
            QStringLiteral("[%1/%2] AI 分类：IMG_%3.JPG → 标签").arg(i / 4 + 1).arg(kLines / 4).arg(i), time);
    case 2:
        return LogStore::stamped(QStringLiteral("新组：第 %1 组").arg(i / 4), time);
    default:
        return LogStore::stamped(QStringLiteral("  • IMG_%1.JPG").arg(i), time);
    }
}

/// CPU time of the calling thread: what the GUI thread itself spent, whatever else the machine runs.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Flood {
    double longestCpuMs = 0;
    double longestGapMs = 0;
    double totalMs = 0;
    double rssGrowthMb = 0;
    int gapsOver25 = 0;
};

/// Posts every line from a worker through `post`, and measures the GUI thread until the model
/// holds them all.
Flood flood(LogModel& model, const std::function<void(const QString&)>& post) {
    // Fonts (the CJK fall-back above all) load on first use: that start-up is not the flood's.
    model.append({sampleLine(0), sampleLine(1)});
    QElapsedTimer warm;
    warm.start();
    while (warm.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    model.clear();
    const double rssBefore = rssMb();
    Flood result;
    QElapsedTimer clock, sinceTick;
    QTimer ticker;
    ticker.setInterval(10);
    double lastCpu = threadCpuMs();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double cpu = threadCpuMs();
        result.longestCpuMs = std::max(result.longestCpuMs, cpu - lastCpu);
        lastCpu = cpu;
        const double gap = sinceTick.nsecsElapsed() / 1e6;
        result.longestGapMs = std::max(result.longestGapMs, gap);
        if (gap > 25) ++result.gapsOver25;
        sinceTick.restart();
    });
    QThread* worker = QThread::create([&] {
        for (int i = 0; i < kLines; ++i)
            post(sampleLine(i));
    });
    clock.start();
    sinceTick.start();
    lastCpu = threadCpuMs();
    ticker.start();
    worker->start();
    while (model.count() < kLines)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    result.totalMs = clock.nsecsElapsed() / 1e6;
    ticker.stop();
    worker->wait();
    delete worker;
    result.rssGrowthMb = rssMb() - rssBefore;
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    Flood ours, naive;
    {
        LogModel model;
        LogPump pump(&model);
        LogPanel panel(&model, {});
        panel.resize(708, 420);
        panel.show();
        ours = flood(model, [&pump](const QString& line) { pump.post(line); });
    }
    {
        LogModel model;
        LogPanel panel(&model, {});
        panel.resize(708, 420);
        panel.show();
        naive = flood(model, [&model](const QString& line) {
            QMetaObject::invokeMethod(
                &model, [&model, line] { model.append({line}); }, Qt::QueuedConnection);
        });
    }
    std::printf("%d lines posted from a worker into a shown log panel\n", kLines);
    std::printf("  %-34s %10s %10s %8s\n", "", "ours", "per-line", "ratio");
    std::printf("  %-34s %10.1f %10.1f %8.1f\n", "longest GUI-thread stall (ms)", ours.longestGapMs,
                naive.longestGapMs, naive.longestGapMs / std::max(ours.longestGapMs, 0.001));
    std::printf("  %-34s %10.1f %10.1f %8.1f\n", "longest GUI-thread CPU between ticks", ours.longestCpuMs,
                naive.longestCpuMs, naive.longestCpuMs / std::max(ours.longestCpuMs, 0.001));
    std::printf("  %-34s %10d %10d\n", "stalls over 25 ms", ours.gapsOver25, naive.gapsOver25);
    std::printf("  %-34s %10.0f %10.0f %8.2f\n", "all lines listed after (ms)", ours.totalMs, naive.totalMs,
                naive.totalMs / ours.totalMs);
    std::printf("  %-34s %10.1f\n", "resident memory growth (MB)", ours.rssGrowthMb);

    QStringList half, full;
    for (int i = 0; i < kLines; ++i)
        (i < kLines / 2 ? half : full) << sampleLine(i);
    full = half + full;
    QElapsedTimer clock;
    clock.start();
    const auto a = ProcessLogStyle::logStripeIndices(half);
    const double halfMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    const auto b = ProcessLogStyle::logStripeIndices(full);
    const double fullMs = clock.nsecsElapsed() / 1e6;
    std::printf("bands of %d lines: %.1f ms, of %d lines: %.1f ms (ratio %.2f; linear = 2), last band %d\n",
                kLines / 2, halfMs, kLines, fullMs, fullMs / halfMs, b.back());
    double load = 0;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    std::printf(
        "load average while measuring: %.1f on %d cores (wall-clock stalls include waiting for a core)\n",
        load, QThread::idealThreadCount());
    const bool ok = ours.longestCpuMs <= 50 && ours.rssGrowthMb < 100 && a.size() * 2 == b.size();
    std::printf("%s\n", ok ? "targets met (GUI-thread work between ticks <= 50 ms, memory < 100 MB)"
                           : "TARGETS MISSED");
    return ok ? 0 : 1;
}
