#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace kestra {

// What went wrong with a file: which file and the system's reason.
struct StorageError {
    QString file;
    QString reason;

    // A text for the user, naming the file and the reason.
    QString message() const;
};

// Outcome of an operation that gives nothing back.
class [[nodiscard]] Status
{
public:
    Status() = default;
    Status(StorageError error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const StorageError &error() const { return *m_error; }

private:
    std::optional<StorageError> m_error;
};

// A value or the error that prevented it.
template <class T>
class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(StorageError error) : m_error(std::move(error)) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *m_value; }
    T &value() { return *m_value; }
    const StorageError &error() const { return *m_error; }
    Status status() const { return ok() ? Status() : Status(*m_error); }

private:
    std::optional<T> m_value;
    std::optional<StorageError> m_error;
};

} // namespace kestra
