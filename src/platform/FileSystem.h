#pragma once

// File operations that must never lose or overwrite anything.

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace platform {

/// The system calls the safe move is built from; tests replace them to simulate failures.
struct MoveOps {
    /// renameat2(RENAME_NOREPLACE): 0 or -1 with errno.
    std::function<int(const char* from, const char* to)> renameNoReplace;
    std::function<int(const char* from, const char* to)> link;
    std::function<int(const char* from, const char* to)> rename;
    std::function<int(const char* path)> unlink;
    static const MoveOps& system();
};

/// The result of a move: nothing on success, else the failure with errno.
struct MoveFailure {
    enum class Kind { destinationExists, sourceMissing, other };
    Kind kind = Kind::other;
    int error = 0; ///< errno
};

/// Moves a file or folder without ever replacing what is at the destination. Within one file
/// system it is one atomic rename; across file systems a regular file is copied to a temporary
/// name beside the destination, synced, renamed into place without replacing, and only then is
/// the source removed. On any failure the source is intact and the destination untouched.
std::optional<MoveFailure> moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                                         const MoveOps& ops = MoveOps::system());

/// The prefix of every temporary file this program leaves beside a destination while writing.
inline constexpr const char* kTemporaryPrefix = ".vitrino-tmp-";

/// Writes a whole file through a temporary beside it, synced, then renamed over the target.
/// Nothing is left behind on failure. Nothing on success, else errno.
std::optional<int> writeFileAtomically(const std::filesystem::path& path, const QByteArray& bytes);

/// True for a name this program gives its temporaries: kTemporaryPrefix, then "{pid}-{n}-{r}".
bool isTemporaryName(const std::string& name);

/// Removes temporary files of ours left in a folder by a process that was killed (exactly our
/// names; never one whose process still runs); returns how many.
int removeStaleTemporaries(const std::filesystem::path& folder);

/// A folder of ours in the user's data folder (~/.local/share/{relative}), created when missing;
/// under the temporary folder when the data folder is unavailable or cannot be created.
QString userDataDirectory(const QString& relative);

/// Creates an empty file that must not exist yet, with these permission bits (before the umask).
/// Nothing on success, else errno (EEXIST when something is there).
std::optional<int> createNewFile(const std::filesystem::path& path, unsigned mode);

/// Sets a file's access and modification time (whole seconds since 1970). Nothing, else errno.
std::optional<int> setFileTime(const std::filesystem::path& path, qint64 secondsSinceEpoch);

/// Sets a file's permission bits. Nothing on success, else errno.
std::optional<int> setPermissions(const std::filesystem::path& path, unsigned mode);

/// Whether a folder still takes a write of this many bytes: a full disk lets a file be created,
/// only a synced write tells. A probe file of ours is written there and removed. Nothing when it
/// does, else errno.
std::optional<int> checkFolderTakesWrites(const std::filesystem::path& folder, qsizetype bytes);

/// A file only ever written at its end, each piece with one write() where the system allows, so
/// a killed process leaves whole pieces and at most one cut-off tail. Closed when destroyed.
class AppendOnlyFile {
  public:
    AppendOnlyFile() = default;
    AppendOnlyFile(AppendOnlyFile&& other) noexcept;
    AppendOnlyFile& operator=(AppendOnlyFile&& other) noexcept;
    AppendOnlyFile(const AppendOnlyFile&) = delete;
    AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;
    ~AppendOnlyFile();

    /// A new file, readable by its owner only; fails with EEXIST when something is there.
    static AppendOnlyFile createNew(const std::filesystem::path& path, int& error);
    static AppendOnlyFile openExisting(const std::filesystem::path& path, int& error);

    bool isOpen() const { return m_fd >= 0; }
    /// Writes all of the bytes. Nothing on success, else errno (ENOSPC when nothing was taken).
    std::optional<int> append(const QByteArray& bytes);

  private:
    explicit AppendOnlyFile(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

/// True when something (a file, a folder, or a dangling symbolic link) exists at the path.
bool itemExists(const std::filesystem::path& path);

/// What tells whether a file is still the one seen earlier: its size and its modification time
/// in nanoseconds since 1970 (a symbolic link's own, not its target's).
struct FileStamp {
    qint64 size = 0;
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
/// Nothing when nothing is at the path.
std::optional<FileStamp> fileStamp(const std::filesystem::path& path);

} // namespace platform
