#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace kestra {

// Why an operation failed: the text the user reads in the box, and what a
// caller needs to decide what to do next.
struct Error {
    enum class Kind {
        Failed,              // the text says it all
        File,                // a file operation: `file` and `reason` say which and why
        CertificateRejected, // the server's certificate failed the check
        Canceled,            // the user stopped the operation
        Answered,            // the user answered a question No; the question said it all
    };

    Kind kind = Kind::Failed;
    QString text;   // for the user; empty only for Answered
    QString file;   // File: the file the system refused
    QString reason; // File: the system's reason

    Error() = default;
    explicit Error(QString message, Kind kind = Kind::Failed) : kind(kind), text(std::move(message)) {}

    // "ファイルの操作に失敗しました。" with the file and the system's reason.
    static Error fileOperation(QString file, QString reason);
    static Error canceled(QString message) { return Error(std::move(message), Kind::Canceled); }
    // A question the user answered No: there is nothing more to show.
    static Error answered() { return Error(QString(), Kind::Answered); }

    bool is(Kind k) const { return kind == k; }
    const QString &message() const { return text; }
};

// Outcome of an operation that gives nothing back.
class [[nodiscard]] Status
{
public:
    Status() = default;
    Status(Error error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error &error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

// A value or the error that prevented it.
template <class T>
class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Error error) : m_error(std::move(error)) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *m_value; }
    T &value() { return *m_value; }
    const Error &error() const { return *m_error; }
    Status status() const { return ok() ? Status() : Status(*m_error); }

private:
    std::optional<T> m_value;
    std::optional<Error> m_error;
};

} // namespace kestra
