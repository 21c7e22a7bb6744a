#pragma once

// The image readers take paths, as the scan and the upload preparation call them: each input is
// written to one file per process (in memory when /dev/shm exists), under the name it is read as.

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace fuzzfiles {

inline const std::filesystem::path& directory() {
    // Never destroyed, so that the exit handler that removes it can still name it.
    static const std::filesystem::path* dir = [] {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                               ? "/dev/shm"
                                               : std::filesystem::temp_directory_path();
        // A crash or a time-out ends the process without exit handlers: remove what such runs left.
        const std::string prefix = "vitrino-fuzz-";
        for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) != 0) continue;
            const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
            if (pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
                std::filesystem::remove_all(entry.path(), ec);
        }
        auto* d = new std::filesystem::path(base / (prefix + std::to_string(::getpid())));
        std::filesystem::create_directories(*d, ec);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(directory(), ignored);
        });
        return d;
    }();
    return *dir;
}

/// Writes the bytes to `name` in this process's directory and returns its path.
inline std::filesystem::path write(const std::string& name, const std::uint8_t* data, size_t size) {
    const std::filesystem::path path = directory() / name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

} // namespace fuzzfiles
