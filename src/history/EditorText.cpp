#include "history/EditorText.h"

#include "storage/Cp932.h"

#include <QFile>

namespace kestra {

int findFrom(int start, const QString &text, const QString &what)
{
    if (text.isEmpty() || start < 1 || start > text.size())
        return 0;
    if (what.isEmpty())
        return start;
    const qsizetype at = text.indexOf(what, start - 1, Qt::CaseSensitive);
    return at < 0 ? 0 : int(at + 1);
}

QString FolderPart(const QString &path)
{
    const qsizetype cut = qMax(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return cut < 0 ? path : path.left(cut + 1);
}

Result<QString> readEditorTextFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error::fileOperation(path, file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Error::fileOperation(path, file.errorString());

    QString text;
    text.reserve(bytes.size() + bytes.size() / 8);
    qsizetype lineStart = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n')
            continue;
        text += cp932::decode(QByteArrayView(bytes).sliced(lineStart, i - lineStart));
        text += QLatin1String("\r\n");
        if (c == '\r' && i + 1 < n && bytes.at(i + 1) == '\n')
            ++i;
        lineStart = i + 1;
    }
    if (lineStart < n) {
        text += cp932::decode(QByteArrayView(bytes).sliced(lineStart));
        text += QLatin1String("\r\n");
    }
    return text;
}

Result<QString> readCp932File(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error::fileOperation(path, file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Error::fileOperation(path, file.errorString());
    return cp932::decode(bytes);
}

QByteArray editorTextBytes(const QString &text)
{
    QString crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n') && (i == 0 || text.at(i - 1) != QLatin1Char('\r')))
            crlf += QLatin1Char('\r');
        crlf += c;
    }
    return cp932::encode(crlf);
}

} // namespace kestra
