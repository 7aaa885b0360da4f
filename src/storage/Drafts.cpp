#include "storage/Drafts.h"

#include "common/Paths.h"
#include "storage/Settings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

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

QJsonObject readObject(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

QString DraftFile::defaultPath()
{
    return appPaths().dataFile(QStringLiteral("drafts.json"));
}

QMap<QString, Draft> DraftFile::readAll() const
{
    QMap<QString, Draft> drafts;
    const QJsonObject all = readObject(m_path);
    for (auto it = all.begin(); it != all.end(); ++it) {
        const Draft d = fromJson(it.value().toObject());
        if (!d.isEmpty())
            drafts.insert(it.key(), d);
    }
    return drafts;
}

Status DraftFile::save(const QString &window, const Draft &draft) const
{
    QJsonObject all = readObject(m_path);
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
