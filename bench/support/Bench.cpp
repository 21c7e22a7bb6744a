#include "support/Bench.h"

#include "support/Fixtures.h"

#include <opencv2/core.hpp>

#include <QProcess>
#include <QStandardPaths>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace bench {

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
    std::vector<QByteArray> storage;
    storage.push_back(program.toLocal8Bit());
    for (const auto& a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (auto& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss / 1024.0;
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
