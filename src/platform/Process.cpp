#include "platform/Process.h"

#include "core/Text.h"

#include <QProcess>

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

core::Result<int> runProgram(const std::filesystem::path& program, const QStringList& arguments,
                             int timeoutMs) {
    QProcess process;
    // Nobody reads the output; discarding it means a chatty program can never fill a pipe.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(core::displayPath(program), arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted()) return core::Error{process.errorString()};
    if (!process.waitForFinished(timeoutMs)) {
        const QString reason = process.errorString();
        process.kill();
        process.waitForFinished();
        return core::Error{reason};
    }
    if (process.exitStatus() == QProcess::CrashExit) return core::Error{process.errorString()};
    return process.exitCode();
}

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

void reuseFreedBuffers() {
    // Setting either bound also turns off glibc's raising of the mapping bound as buffers are freed.
    // 32 MB is the most it takes for that bound.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace platform
