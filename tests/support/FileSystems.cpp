#include "support/FileSystems.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace fixtures {
namespace {

constexpr const char* kCallMarker = "--call--";

bool setImmutable(const fs::path& file, bool on) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace

StandInExifTool::StandInExifTool(const fs::path& dir, int status)
    : m_program(dir / "exiftool"), m_record(dir / "exiftool-calls.txt") {
    fs::create_directories(dir);
    std::ofstream script(m_program);
    script << "#!/bin/sh\n"
           << "{ echo '" << kCallMarker << "'; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } >> '"
           << m_record.string() << "'\n"
           << "exit " << status << "\n";
    script.close();
    fs::permissions(m_program, fs::perms::owner_all);
}

QStringList StandInExifTool::searchPath() const {
    return {QString::fromStdString((m_program.parent_path() / "missing" / "exiftool").string()),
            QString::fromStdString(m_program.string())};
}

std::vector<QStringList> StandInExifTool::calls() const {
    std::vector<QStringList> calls;
    for (const QString& line : QString::fromStdString(readFile(m_record)).split(QLatin1Char('\n'))) {
        if (line == QLatin1String(kCallMarker))
            calls.emplace_back();
        else if (!calls.empty() && !line.isEmpty())
            calls.back() << line;
    }
    return calls;
}

Unwritable::Unwritable(const fs::path& file) : m_file(file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) m_mode = st.st_mode & 07777;
    if (::geteuid() == 0) {
        m_immutable = setImmutable(file, true);
        m_ok = m_immutable;
    } else {
        m_ok = ::chmod(file.c_str(), m_mode & 0555) == 0;
    }
}

Unwritable::~Unwritable() {
    if (m_immutable) setImmutable(m_file, false);
    ::chmod(m_file.c_str(), m_mode);
}

ScratchMount::ScratchMount(const std::string& type) {
    if (::mount(type.c_str(), m_dir.path().c_str(), type.c_str(), MS_NOSUID | MS_NODEV, "size=16m") == 0) {
        m_mounted = true;
    } else {
        m_reason = "cannot mount " + type + " here (" + std::strerror(errno) + "); needs CAP_SYS_ADMIN";
    }
}

ScratchMount::~ScratchMount() {
    if (m_mounted) ::umount2(m_dir.path().c_str(), MNT_DETACH);
}

} // namespace fixtures
