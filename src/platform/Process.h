#pragma once

// Starting external programs: always with an argument list, never through a shell.

#include "core/Result.h"

#include <QString>
#include <QStringList>

#include <filesystem>

namespace platform {

/// Runs a program, its output discarded, and waits for it to exit (at most `timeoutMs`, after
/// which it is killed). The exit status, or the launch error's description when it could not
/// be started, crashed or timed out.
core::Result<int> runProgram(const std::filesystem::path& program, const QStringList& arguments,
                             int timeoutMs = 120000);

/// True for a regular file (or a link to one) that this process may execute.
bool isExecutableFile(const std::filesystem::path& path);

} // namespace platform
