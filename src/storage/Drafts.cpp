#include "storage/Drafts.h"

#include "storage/Settings.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace kestra {

namespace {

QJsonObject toJson(const Draft &d)
{
    return QJsonObject{{QStringLiteral("to"), d.to},
                       {QStringLiteral("subject"), d.subject},
                       {QStringLiteral("body"), d.body},
                       {QStringLiteral("attachments"), d.attachments}};
}

Draft fromJson(const QJsonObject &o)
{
    return Draft{o.value(QStringLiteral("to")).toString(), o.value(QStringLiteral("subject")).toString(),
                 o.value(QStringLiteral("body")).toString(), o.value(QStringLiteral("attachments")).toString()};
}

// The drafts of every window; no file means none. A file that cannot be read
// or is not a drafts file is an error: it is never taken for "no drafts".
Result<QJsonObject> readObject(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QJsonObject();
    if (!file.open(QIODevice::ReadOnly))
        return Error::fileOperation(path, file.errorString());
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject())
        return Error::fileOperation(path, QStringLiteral("下書きのファイルが壊れています"));
    return document.object();
}

// Where a damaged file is set aside: "<file>.bad", or the first free of
// "<file>.bad.2", "<file>.bad.3" ... so that one set aside earlier is kept.
QString setAsidePath(const QString &path)
{
    const QString first = path + QStringLiteral(".bad");
    QString aside = first;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = first + QStringLiteral(".%1").arg(n);
    return aside;
}

} // namespace

QString newDraftKey(const QString &kind)
{
    static int made = 0;
    return kind + QLatin1Char(':')
           + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmsszzz"))
           + QStringLiteral("-%1").arg(++made, 4, 10, QLatin1Char('0'));
}

QString draftKind(const QString &key)
{
    return key.section(QLatin1Char(':'), 0, 0);
}

Result<QMap<QString, Draft>> DraftFile::readAll() const
{
    const Result<QJsonObject> all = readObject(m_path);
    if (!all)
        return all.error();
    QMap<QString, Draft> drafts;
    for (auto it = all.value().begin(); it != all.value().end(); ++it) {
        const Draft d = fromJson(it.value().toObject());
        if (!d.isEmpty())
            drafts.insert(it.key(), d);
    }
    return drafts;
}

Status DraftFile::save(const QString &window, const Draft &draft) const
{
    Result<QJsonObject> read = readObject(m_path);
    if (!read && QFileInfo(m_path).isFile() && QFileInfo(m_path).isReadable()) {
        // A damaged file is set aside, not overwritten: what it still holds
        // stays for the user, and drafts are kept again from now on.
        if (!QFile::rename(m_path, setAsidePath(m_path)))
            return read.error();
        read = QJsonObject();
    }
    if (!read)
        return read.error(); // an unreadable file is not replaced: its drafts would be lost
    QJsonObject all = read.value();
    if (draft.isEmpty())
        all.remove(window);
    else
        all.insert(window, toJson(draft));
    if (all.isEmpty()) {
        if (QFile::exists(m_path) && !QFile::remove(m_path))
            return Error::fileOperation(m_path, QStringLiteral("下書きを消せません"));
        return {};
    }
    return writeFileAtomically(m_path, QJsonDocument(all).toJson(QJsonDocument::Compact), true);
}

} // namespace kestra
