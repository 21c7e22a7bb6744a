#pragma once

// Starting external programs: always with an argument list, never through a shell; and how this
// process's own memory is handed back.

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

/// True when this process's standard error is a terminal (progress is drawn there, else left out).
bool standardErrorIsTerminal();

/// Buffers of 1 MB and more (decoded photos, uploads, request bodies) are mapped on their own and
/// given back to the system when freed. Without it, glibc raises that bound once the first large
/// buffer is freed and keeps later ones in the heap of the thread that freed them; a run with
/// several requests in flight (many threads) then holds a few hundred MB it no longer uses.
/// Called once at the start of each program.
void returnLargeBuffersToTheSystem();

} // namespace platform
