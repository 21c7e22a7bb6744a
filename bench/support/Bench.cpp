#include "support/Bench.h"

#include "support/Fixtures.h"

#include <opencv2/core.hpp>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace bench {

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void hardLinkShoot(const std::filesystem::path& master, const std::filesystem::path& dir, int count) {
    std::filesystem::create_directories(dir);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        std::filesystem::create_hard_link(master, dir / name);
    }
}

double medianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool runProgram(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool haveProgram(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}

double peakRssOfRunMb(const QString& program, const QStringList& args) {
    // GNU time measures its own child, which it forks while small: a child forked or spawned from
    // this (large) process would count our resident pages in its peak.
    QTemporaryFile report;
    if (!report.open()) return -1;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("/usr/bin/time"),
                  QStringList{"-f", "%M", "-o", report.fileName(), program} + args);
    if (!process.waitForFinished(3600000) || process.exitStatus() != QProcess::NormalExit) return -1;
    const QByteArray text = report.readAll().trimmed();
    bool ok = false;
    const double kb = text.split('\n').last().toDouble(&ok);
    return ok ? kb / 1024.0 : -1;
}

void writeRealisticJpeg(const std::filesystem::path& path, int width, int height) {
    platform::Bitmap image = fixtures::picture(width, height, 7);
    cv::Mat noise(image.size(), CV_8UC3);
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(6));
    image += noise;
    const auto jpeg = platform::encodeJpeg(image, 92);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg->data()), long(jpeg->size()));
}

void printRow(const QString& what, double oursMs, double theirsMs, const QString& theirs) {
    std::printf("%-44s ours %8.1f ms   %-22s %8.1f ms   ratio %.2fx (theirs/ours)\n",
                what.toUtf8().constData(), oursMs, theirs.toUtf8().constData(), theirsMs, theirsMs / oursMs);
}

} // namespace bench
