#pragma once

#include <QString>
#include <QStringList>

#include "ai/AIConfig.h"

#include <QByteArray>
#include <filesystem>

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

int scanCommand(Args& args);
int thumbCommand(Args& args);
int prepareCommand(Args& args);
int chatCommand(Args& args);
int probeCommand(Args& args);
int classifyCommand(Args& args);
int organizeCommand(Args& args);

} // namespace cli
