#include "platform/FileSystem.h"

#include "platform/ExtendedAttributes.h"

#include <QDir>
#include <QStandardPaths>

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>

namespace platform {
namespace {

int sysRenameNoReplace(const char* from, const char* to) {
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
}

std::string temporaryName() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    return std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
           "-" + std::to_string(rd());
}

bool syncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

/// Copies a regular file's bytes, mode, file times and user attributes (star ratings live there)
/// to `to` (which must not exist), synced.
int copyFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const int e = errno;
        ::close(in);
        return e;
    }
    // Writable by us until the attributes are on: setting one needs write permission on the file.
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (out < 0) {
        const int e = errno;
        ::close(in);
        return e;
    }
    int result = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            result = errno;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                result = errno;
                break;
            }
            done += w;
        }
        if (result) break;
    }
    if (!result) result = copyUserAttributes(in, out);
    if (!result && ::fchmod(out, st.st_mode & 07777) != 0) result = errno;
    if (!result) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times); // keep the camera's file time
        if (::fsync(out) != 0) result = errno;
    }
    if (::close(out) != 0 && !result) result = errno;
    ::close(in);
    return result;
}

std::optional<MoveFailure> failure(int error) {
    if (error == EEXIST || error == ENOTEMPTY)
        return MoveFailure{MoveFailure::Kind::destinationExists, EEXIST};
    if (error == ENOENT) return MoveFailure{MoveFailure::Kind::sourceMissing, error};
    return MoveFailure{MoveFailure::Kind::other, error};
}

/// The last step of a move made as a copy or a second link: the source goes. When it cannot be
/// removed, the destination is taken back so the photo is not left twice; but when the source
/// has vanished meanwhile, the destination is the only copy left and stays.
std::optional<MoveFailure> removeSourceAfterCopy(const std::filesystem::path& from,
                                                 const std::filesystem::path& to, const MoveOps& ops) {
    if (ops.unlink(from.c_str()) == 0) return std::nullopt;
    const int e = errno;
    if (e == ENOENT) return std::nullopt;
    ::unlink(to.c_str());
    return failure(e);
}

std::optional<MoveFailure> moveAcrossFileSystems(const std::filesystem::path& from,
                                                 const std::filesystem::path& to, const MoveOps& ops) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return failure(errno);
    if (!S_ISREG(st.st_mode)) return MoveFailure{MoveFailure::Kind::other, EXDEV};
    if (itemExists(to)) return failure(EEXIST);
    const std::filesystem::path temp = to.parent_path() / temporaryName();
    if (const int e = copyFile(from, temp)) {
        ::unlink(temp.c_str());
        return failure(e);
    }
    // Into place without replacing: a name taken meanwhile is left alone.
    if (ops.renameNoReplace(temp.c_str(), to.c_str()) != 0) {
        int e = errno;
        if (e == EINVAL || e == ENOSYS) {
            e = ops.link(temp.c_str(), to.c_str()) == 0 ? 0 : errno;
        }
        if (e) {
            ::unlink(temp.c_str());
            return failure(e);
        }
        ::unlink(temp.c_str());
    }
    syncDirectory(to.parent_path());
    return removeSourceAfterCopy(from, to, ops);
}

} // namespace

const MoveOps& MoveOps::system() {
    static const MoveOps ops{sysRenameNoReplace, [](const char* a, const char* b) { return ::link(a, b); },
                             [](const char* a, const char* b) { return ::rename(a, b); },
                             [](const char* path) { return ::unlink(path); }};
    return ops;
}

QString userDataDirectory(const QString& relative) {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!base.isEmpty()) {
        const QString dir = QDir(base).filePath(relative);
        if (QDir().mkpath(dir)) return dir;
    }
    const QString dir = QDir(QDir::tempPath()).filePath(relative);
    QDir().mkpath(dir);
    return dir;
}

bool itemExists(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::optional<FileStamp> fileStamp(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + qint64(st.st_mtim.tv_nsec)};
}

std::optional<MoveFailure> moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                                         const MoveOps& ops) {
    if (ops.renameNoReplace(from.c_str(), to.c_str()) == 0) return std::nullopt;
    const int error = errno;
    if (error == EXDEV) return moveAcrossFileSystems(from, to, ops);
    if (error != EINVAL && error != ENOSYS) return failure(error);

    // A file system without RENAME_NOREPLACE: a hard link cannot replace either.
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return failure(errno);
    if (!S_ISDIR(st.st_mode)) {
        if (ops.link(from.c_str(), to.c_str()) == 0) {
            return removeSourceAfterCopy(from, to, ops);
        }
        const int e = errno;
        if (e == EXDEV) return moveAcrossFileSystems(from, to, ops);
        if (e != EPERM && e != EOPNOTSUPP && e != EMLINK) return failure(e);
    }
    // Neither is available (a folder, or a file system without hard links): look, then rename.
    if (itemExists(to)) return failure(EEXIST);
    if (ops.rename(from.c_str(), to.c_str()) != 0) return failure(errno);
    return std::nullopt;
}

std::optional<int> writeFileAtomically(const std::filesystem::path& path, const QByteArray& bytes) {
    const std::filesystem::path temp = path.parent_path() / temporaryName();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    int error = 0;
    for (qsizetype done = 0; !error && done < bytes.size();) {
        const ssize_t w = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0)
            error = w < 0 ? errno : EIO;
        else
            done += w;
    }
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error) {
        ::unlink(temp.c_str());
        return error;
    }
    return std::nullopt;
}

std::optional<int> createNewFile(const std::filesystem::path& path, unsigned mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(mode));
    if (fd < 0) return errno;
    ::close(fd);
    return std::nullopt;
}

std::optional<int> setFileTime(const std::filesystem::path& path, qint64 secondsSinceEpoch) {
    const struct timespec times[2] = {{time_t(secondsSinceEpoch), 0}, {time_t(secondsSinceEpoch), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return errno;
    return std::nullopt;
}

std::optional<int> setPermissions(const std::filesystem::path& path, unsigned mode) {
    if (::chmod(path.c_str(), mode_t(mode)) != 0) return errno;
    return std::nullopt;
}

std::optional<int> checkFolderTakesWrites(const std::filesystem::path& folder, qsizetype bytes) {
    const std::filesystem::path probe = folder / temporaryName();
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    const QByteArray block(bytes, ' ');
    const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
    int error = n == block.size() ? 0 : (n < 0 ? errno : ENOSPC);
    if (!error && ::fsync(fd) != 0) error = errno;
    ::close(fd);
    ::unlink(probe.c_str());
    if (error) return error;
    return std::nullopt;
}

AppendOnlyFile::AppendOnlyFile(AppendOnlyFile&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

AppendOnlyFile& AppendOnlyFile::operator=(AppendOnlyFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

AppendOnlyFile::~AppendOnlyFile() {
    if (m_fd >= 0) ::close(m_fd);
}

AppendOnlyFile AppendOnlyFile::createNew(const std::filesystem::path& path, int& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    error = fd < 0 ? errno : 0;
    return AppendOnlyFile(fd);
}

AppendOnlyFile AppendOnlyFile::openExisting(const std::filesystem::path& path, int& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    error = fd < 0 ? errno : 0;
    return AppendOnlyFile(fd);
}

std::optional<int> AppendOnlyFile::append(const QByteArray& bytes) {
    if (m_fd < 0) return EBADF;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += n;
    }
    return std::nullopt;
}

bool isTemporaryName(const std::string& name) {
    // Exactly what temporaryName() makes: prefix, then three runs of digits joined by '-'.
    const std::string prefix = kTemporaryPrefix;
    if (name.rfind(prefix, 0) != 0) return false;
    int runs = 0;
    bool inDigits = false;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (c >= '0' && c <= '9') {
            if (!inDigits) ++runs;
            inDigits = true;
        } else if (c == '-' && inDigits) {
            inDigits = false;
        } else {
            return false;
        }
    }
    return runs == 3 && inDigits;
}

int removeStaleTemporaries(const std::filesystem::path& folder) {
    int removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().native();
        if (!isTemporaryName(name)) continue;
        // A temporary of a process that is still running (another Vitrino) is not stale.
        const long pid = std::strtol(name.c_str() + std::strlen(kTemporaryPrefix), nullptr, 10);
        if (pid > 0 && pid != long(::getpid()) && (::kill(pid_t(pid), 0) == 0 || errno == EPERM)) continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(it->path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace platform
