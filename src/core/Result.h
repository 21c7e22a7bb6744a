#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace core {

/// The plain error of the codebase: a fixed Chinese description, possibly followed by the
/// system's own reason. Error enumerations of the subsystems convert to it for logging.
struct Error {
    QString text;
    /// Set when a service answered that it is busy (HTTP 429 or 503): the wait it asked for
    /// before a new try, in milliseconds (−1 when it named none).
    std::optional<int> busyRetryAfterMs = {};
    QString description() const { return text; }
    bool operator==(const Error&) const = default;
};

/// A value or an error, in the manner of std::expected (which C++20 does not have yet).
template <typename T, typename E = Error> class Result {
  public:
    Result(T value) : m_v(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : m_v(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_v); }
    const T& value() const& { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const E& error() const { return std::get<1>(m_v); }

  private:
    std::variant<T, E> m_v;
};

} // namespace core
