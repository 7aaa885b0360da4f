#include "mail/RawMessage.h"

#include <QBuffer>
#include <QDir>

#include <unistd.h>

namespace kestra {

int removeReceiveLeftovers()
{
    // Only a crash leaves one: a finished receive removes its file. A file
    // another running copy is still receiving into stays readable to it.
    // The names are matched by hand, as a name filter would (case aside):
    // a filter is a regular expression compiled at start-up, which brings in
    // the expression library's code, about 0.5 MiB resident, before any mail.
    const QString pattern = QString::fromLatin1(kReceiveFilePattern);
    const QString prefix = pattern.left(pattern.indexOf(u'X'));
    const QString suffix = pattern.mid(pattern.lastIndexOf(u'X') + 1);
    const auto leftover = [&](const QString &name) {
        return name.size() >= prefix.size() + suffix.size() && name.startsWith(prefix, Qt::CaseInsensitive)
               && name.endsWith(suffix, Qt::CaseInsensitive);
    };
    int removed = 0;
    for (const QFileInfo &file : QDir(QDir::tempPath()).entryInfoList(QDir::Files | QDir::Hidden)) {
        if (leftover(file.fileName()) && !file.isSymLink() && file.ownerId() == ::getuid()
            && QFile::remove(file.filePath()))
            ++removed;
    }
    return removed;
}

QByteArray RawMessage::readAll() const
{
    if (!m_file)
        return m_bytes; // shared, not copied
    if (!m_file->seek(0))
        return {};
    return m_file->readAll();
}

QByteArray RawMessage::headerBlock() const
{
    QBuffer memory;
    memory.setData(m_bytes);
    QIODevice &in = m_file ? static_cast<QIODevice &>(*m_file) : memory;
    if (!in.isOpen() && !in.open(QIODevice::ReadOnly))
        return {};
    if (!in.seek(0))
        return {};
    QByteArray header;
    while (!in.atEnd()) {
        const QByteArray line = in.readLine();
        if (line == "\r\n" || line == "\n" || line == "\r")
            break;
        header += line;
    }
    return header;
}

} // namespace kestra
