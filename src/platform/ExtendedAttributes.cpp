#include "platform/ExtendedAttributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

constexpr const char* kUserPrefix = "user.";

/// Splits a NUL-separated name list, keeping the user namespace only.
std::vector<std::string> userNames(const std::vector<char>& list) {
    std::vector<std::string> names;
    for (size_t at = 0; at < list.size();) {
        const std::string name(list.data() + at);
        at += name.size() + 1;
        if (name.rfind(kUserPrefix, 0) == 0) names.push_back(name);
    }
    return names;
}

/// Calls a list or get function twice: once for the size, once for the bytes (again if the
/// value grew in between).
template <typename Call> std::optional<std::vector<char>> readSized(Call call) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0) return std::nullopt;
        std::vector<char> buffer(size_t(size) + 1);
        const ssize_t got = call(buffer.data(), buffer.size());
        if (got >= 0) {
            buffer.resize(size_t(got));
            return buffer;
        }
        if (errno != ERANGE) return std::nullopt;
    }
    return std::nullopt;
}

bool unsupported(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP;
}

} // namespace

int setAttribute(const std::filesystem::path& path, const std::string& name, const QByteArray& value) {
    return ::setxattr(path.c_str(), name.c_str(), value.constData(), size_t(value.size()), 0);
}

int removeAttribute(const std::filesystem::path& path, const std::string& name) {
    if (::removexattr(path.c_str(), name.c_str()) == 0 || errno == ENODATA) return 0;
    return -1;
}

std::optional<QByteArray> attribute(const std::filesystem::path& path, const std::string& name) {
    const auto bytes = readSized(
        [&](char* buffer, size_t size) { return ::getxattr(path.c_str(), name.c_str(), buffer, size); });
    if (!bytes) return std::nullopt;
    return QByteArray(bytes->data(), qsizetype(bytes->size()));
}

int copyUserAttributes(int fromFd, int toFd) {
    const auto list =
        readSized([&](char* buffer, size_t size) { return ::flistxattr(fromFd, buffer, size); });
    if (!list) return unsupported(errno) ? 0 : errno;
    for (const std::string& name : userNames(*list)) {
        const auto value = readSized(
            [&](char* buffer, size_t size) { return ::fgetxattr(fromFd, name.c_str(), buffer, size); });
        if (!value) {
            if (errno == ENODATA) continue; // removed meanwhile
            return errno;
        }
        if (::fsetxattr(toFd, name.c_str(), value->data(), value->size(), 0) != 0) {
            if (unsupported(errno)) return 0; // the destination keeps none at all
            return errno;
        }
    }
    return 0;
}

} // namespace platform
