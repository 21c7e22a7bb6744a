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

/// Freed buffers are kept for the next photo instead of being handed back to the system and
/// faulted in again page by page: every thread allocates from one heap, buffers up to 32 MB (a
/// decoded photo, a detector tile's blob, a network's scratch) are taken from it, and its top is
/// given back only when more than 128 MB lie free there. With a heap per thread, glibc would keep
/// each thread's freed buffers for that thread alone: a run with several requests in flight (many
/// threads) then held a few hundred MB it no longer used. Called once at the start of each program,
/// before any thread is started.
void reuseFreedBuffers();

} // namespace platform
