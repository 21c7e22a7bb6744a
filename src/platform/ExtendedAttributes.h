#pragma once

// Extended attributes of files. Linux only lets ordinary programs use the "user." namespace.

#include <QByteArray>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

/// Sets (or replaces) one attribute; the setxattr result: 0, or -1 with errno set.
int setAttribute(const std::filesystem::path& path, const std::string& name, const QByteArray& value);

/// Removes one attribute; an attribute that is not there is no error. 0, or -1 with errno set.
int removeAttribute(const std::filesystem::path& path, const std::string& name);

/// One attribute's value; nothing when it is absent or cannot be read.
std::optional<QByteArray> attribute(const std::filesystem::path& path, const std::string& name);

/// Copies every "user." attribute of one open file to another. A destination whose file system
/// keeps no user attributes is not an error; 0 or errno.
int copyUserAttributes(int fromFd, int toFd);

} // namespace platform
