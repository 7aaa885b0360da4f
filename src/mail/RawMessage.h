#pragma once

#include <QByteArray>
#include <QFile>

#include <memory>

namespace kestra {

// Names of the private files (in the system's temporary folder) that hold a
// message while it is received or reassembled.
inline constexpr char kReceiveFilePattern[] = "kestra-receive-XXXXXX.eml";
// Removes the files in which an earlier run that crashed was receiving a
// message. Gives how many were removed.
int removeReceiveLeftovers();

// One message exactly as the server sent it (dot-unstuffed): in memory while
// it is small, else in a private file (readable by the user only) that the
// mailbox session keeps. A message held in a file is valid until the next
// fetch of the same session or its end.
class RawMessage
{
public:
    RawMessage() = default;
    explicit RawMessage(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    explicit RawMessage(std::shared_ptr<QFile> file) : m_file(std::move(file)) {}

    bool inFile() const { return m_file != nullptr; }
    // The bytes of a message held in memory; empty for one in a file.
    const QByteArray &bytes() const { return m_bytes; }
    // The file of a large message, or nullptr.
    QFile *file() const { return m_file.get(); }
    qint64 size() const { return m_file ? m_file->size() : m_bytes.size(); }
    // The whole message in memory (read from its file where it is in one).
    QByteArray readAll() const;
    // The lines up to the first empty one, that line left out.
    QByteArray headerBlock() const;

private:
    QByteArray m_bytes;
    std::shared_ptr<QFile> m_file;
};

} // namespace kestra
