#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <functional>

namespace bench {

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
