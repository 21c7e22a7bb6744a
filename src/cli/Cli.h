#pragma once

#include <QString>
#include <QStringList>

#include "ai/AIConfig.h"
#include "engine/LocalAIService.h"
#include "intake/WorkUnits.h"

#include <QByteArray>
#include <filesystem>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

/// Writes one line (UTF-8) to stdout or stderr.
void out(const QString& line);
void err(const QString& line);

/// The command-line words after the command name, with simple option handling.
class Args {
  public:
    Args(int argc, char** argv, int first);
    /// Removes and returns the value of "--name VALUE"; nothing when absent.
    std::optional<QString> take(const QString& name);
    /// Removes "--name" and says whether it was there.
    bool flag(const QString& name);
    /// What is left once options have been taken; unknown options are reported as errors.
    const QStringList& rest() const { return m_rest; }
    /// The words as file paths, byte for byte (names need not be UTF-8).
    std::filesystem::path path(int index) const;
    std::optional<QString> unknownOption() const;

  private:
    QStringList m_rest;
    std::vector<std::string> m_raw;
};

/// Writes a whole file atomically (nothing is left behind on failure).
bool writeFileAtomically(const std::filesystem::path& path, const QByteArray& bytes);

/// The stored AI settings, with this run's --base-url, --model and VITRINO_API_KEY on top. The
/// key is never taken from the command line, where it would land in shell history.
ai::AISettings settingsForRun(Args& args);

/// The endpoint a run talks to: the configured service, or the offline engine on this machine
/// (started here and stopped with the object) when --engine local is given, or when nothing is
/// configured and neither --engine nor --base-url was given.
struct Endpoint {
    ai::AISettings settings;
    std::unique_ptr<engine::LocalAIServer> local;
    QString notice; ///< what to tell the user about the choice ("" for the configured service)
};

inline const QString kUsingLocalEngine = QStringLiteral("未配置 AI 接口，使用本机离线引擎（不上传照片）");

/// Takes --engine, --base-url and --model. Nothing (after printing why) when it cannot be had:
/// exit code in `exitCode`.
std::optional<Endpoint> endpointForRun(Args& args, int& exitCode);

/// Scans a folder and prints the scan summary and the task line; nothing (after printing the
/// error) when the folder cannot be scanned.
std::optional<std::vector<MediaPipeline::WorkUnit>> scanAndReport(const std::filesystem::path& folder);

int scanCommand(Args& args);
int thumbCommand(Args& args);
int prepareCommand(Args& args);
int chatCommand(Args& args);
int probeCommand(Args& args);
int classifyCommand(Args& args);
int organizeCommand(Args& args);
int makeSampleCommand(Args& args);

} // namespace cli
