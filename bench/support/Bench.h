#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <functional>

namespace bench {

using Clock = std::chrono::steady_clock;

/// Milliseconds since t.
double msSince(Clock::time_point t);

/// `count` names IMG_0000.JPG… in `dir` for one photograph (hard links), so a large shoot costs
/// no disk.
void hardLinkShoot(const std::filesystem::path& master, const std::filesystem::path& dir, int count);

/// Median wall time of `runs` calls, in milliseconds.
double medianMs(int runs, const std::function<void()>& work);

/// Runs a program to completion; false when it could not start or failed.
bool runProgram(const QString& program, const QStringList& args);

/// Whether a program is on PATH.
bool haveProgram(const QString& program);

/// Peak resident set of a child run, in MB (from wait4's rusage); negative on failure.
double peakRssOfRunMb(const QString& program, const QStringList& args);

/// A photo-like JPEG (smooth shapes plus sensor-like noise), so that entropy is realistic.
void writeRealisticJpeg(const std::filesystem::path& path, int width, int height);

void printRow(const QString& what, double oursMs, double theirsMs, const QString& theirs);

} // namespace bench
