#pragma once

// File-system situations for tests: a stand-in exiftool that records its arguments, a file no
// one may write (root included), and a scratch mount of another file-system type.

#include "support/Fixtures.h"

#include <QStringList>

#include <string>
#include <vector>

namespace fixtures {

/// A shell script in `dir` that appends its arguments to a record and exits with `status`.
class StandInExifTool {
  public:
    explicit StandInExifTool(const fs::path& dir, int status = 0);
    /// A search path that finds the stand-in (after a candidate that does not exist).
    QStringList searchPath() const;
    /// The arguments of every call, in order.
    std::vector<QStringList> calls() const;

  private:
    fs::path m_program, m_record;
};

/// Makes a file (or folder) unwritable for this process for its lifetime: the immutable flag when running as
/// root (which ignores modes), else mode 0444.
class Unwritable {
  public:
    explicit Unwritable(const fs::path& file);
    ~Unwritable();
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;
    bool ok() const { return m_ok; }

  private:
    fs::path m_file;
    bool m_immutable = false;
    unsigned m_mode = 0644;
    bool m_ok = false;
};

/// A small file system of `type` ("ramfs" keeps no extended attributes, "tmpfs" is another
/// device) mounted on a fresh folder; needs the right to mount, else `ok()` is false.
class ScratchMount {
  public:
    explicit ScratchMount(const std::string& type);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool ok() const { return m_mounted; }
    const std::string& reason() const { return m_reason; }
    const fs::path& path() const { return m_dir.path(); }

  private:
    TempDir m_dir;
    bool m_mounted = false;
    std::string m_reason;
};

} // namespace fixtures
