#include "storage/Settings.h"

#include "common/Text.h"
#include "storage/Cp932.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include <functional>

namespace kestra {

namespace {

// Splits at CR LF, CR or LF. A final line break does not start another line.
QList<QByteArray> splitLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.append(bytes.mid(start, i - start));
            if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines.append(bytes.mid(start));
    return lines;
}

// Profile files treat blanks and tabs around names and values as insignificant.
QString trimProfile(const QString &text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    const auto space = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (b < e && space(text.at(b)))
        ++b;
    while (e > b && space(text.at(e - 1)))
        --e;
    return text.mid(b, e - b);
}

// The section name of a "[name]" line, or a null text for any other line.
QString sectionName(const QString &line)
{
    const QString t = trimProfile(line);
    if (!t.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    return trimProfile(t.mid(1, close < 0 ? -1 : close - 1));
}

// Splits "key=value"; false for lines without "=".
bool keyValue(const QString &line, QString &key, QString &value)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    key = trimProfile(line.left(eq));
    value = trimProfile(line.mid(eq + 1));
    if (value.size() >= 2
        && ((value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            || (value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\''))))) {
        value = value.mid(1, value.size() - 2);
    }
    return true;
}

QString cutToBytes(const QString &text, int maxBytes)
{
    QString out;
    int bytes = 0;
    for (const QChar c : text) {
        const int len = cp932::encodedLength(c);
        if (bytes + len > maxBytes)
            break;
        bytes += len;
        out.append(c);
    }
    return out;
}

} // namespace

void parseKestraIni(const QByteArray &bytes, SharedSettings &settings)
{
    for (const QByteArray &raw : splitLines(bytes)) {
        const QString line = cp932::decode(raw);
        const QString key = line.left(5);
        const QString value = line.mid(5, 100);
        if (key == QLatin1String("SMTP="))
            settings.smtpServer = value;
        else if (key == QLatin1String("POP3="))
            settings.pop3Server = value;
        else if (key == QLatin1String("MAIL="))
            settings.mailAddress = value;
        else if (key == QLatin1String("APOP="))
            settings.apop = roundHalfEvenToInt16(leadingNumber(value));
    }
}

QByteArray formatKestraIni(const SharedSettings &settings)
{
    QByteArray out;
    const auto line = [&out](const char *key, const QString &value) {
        out += key;
        out += cp932::encode(value);
        out += "\r\n";
    };
    line("SMTP=", settings.smtpServer);
    line("POP3=", settings.pop3Server);
    line("MAIL=", settings.mailAddress);
    line("APOP=", settings.apop ? QStringLiteral("1") : QStringLiteral("0"));
    return out;
}

Status readKestraIni(const QString &path, SharedSettings &settings)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return Error::fileOperation(path, file.errorString());
    parseKestraIni(file.readAll(), settings);
    return {};
}

Status writeKestraIni(const QString &path, const SharedSettings &settings)
{
    return writeFileAtomically(path, formatKestraIni(settings));
}

QString ProfileFile::value(const QByteArray &contents, const QString &section, const QString &key)
{
    bool inSection = false;
    for (const QByteArray &raw : splitLines(contents)) {
        const QString line = cp932::decode(raw);
        const QString name = sectionName(line);
        if (!name.isNull()) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString k;
        QString v;
        if (inSection && keyValue(line, k, v) && k.compare(key, Qt::CaseInsensitive) == 0)
            return cutToBytes(v, kValueBytes);
    }
    return {};
}

QByteArray ProfileFile::withValue(const QByteArray &contents, const QString &section,
                                  const QString &key, const QString &value)
{
    QList<QByteArray> lines = splitLines(contents);
    const QByteArray newLine = cp932::encode(key) + '=' + cp932::encode(value);
    qsizetype sectionLine = -1;
    qsizetype lastInSection = -1; // last non-blank line of the section
    bool inSection = false;
    bool replaced = false;
    for (qsizetype i = 0; i < lines.size() && !replaced; ++i) {
        const QString line = cp932::decode(lines[i]);
        const QString name = sectionName(line);
        if (!name.isNull()) {
            if (inSection)
                break; // the section ended without the key
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            if (inSection) {
                sectionLine = i;
                lastInSection = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!trimProfile(line).isEmpty())
            lastInSection = i;
        QString k;
        QString v;
        if (keyValue(line, k, v) && k.compare(key, Qt::CaseInsensitive) == 0) {
            lines[i] = newLine;
            replaced = true;
        }
    }
    if (!replaced) {
        if (sectionLine < 0) {
            lines.append('[' + cp932::encode(section) + ']');
            lines.append(newLine);
        } else {
            lines.insert(lastInSection + 1, newLine);
        }
    }
    QByteArray out;
    for (const QByteArray &line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

QString ProfileFile::read(const QString &path, const QString &section, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return value(file.readAll(), section, key);
}

Status ProfileFile::write(const QString &path, const QString &section, const QString &key,
                          const QString &value)
{
    QByteArray contents;
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            return Error::fileOperation(path, file.errorString());
        contents = file.readAll();
        file.close();
    }
    return writeFileAtomically(path, withValue(contents, section, key, value), true);
}

IdPass readIdPass(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray contents = file.readAll();
    const QString section = QStringLiteral("EXEINI");
    return IdPass{ProfileFile::value(contents, section, QStringLiteral("NAME")),
                  ProfileFile::value(contents, section, QStringLiteral("NAME2"))};
}

Status writeIdPass(const QString &path, const IdPass &values, bool save)
{
    const QString section = QStringLiteral("EXEINI");
    if (save) {
        if (Status s = ProfileFile::write(path, section, QStringLiteral("NAME"), values.id); !s)
            return s;
        if (Status s = ProfileFile::write(path, section, QStringLiteral("NAME2"), values.password); !s)
            return s;
        return ProfileFile::write(path, section, QStringLiteral("NAME3"), QStringLiteral("1"));
    }
    return ProfileFile::write(path, section, QStringLiteral("NAME3"), QStringLiteral("0"));
}

namespace {
const QString kMaxMessageKey = QStringLiteral("receive/maxMessageMiB");
}

int readMaxMessageMiB(const QString &extraIniPath)
{
    const QSettings ini(extraIniPath, QSettings::IniFormat);
    bool ok = false;
    const int mib = ini.value(kMaxMessageKey).toInt(&ok);
    return ok ? qBound(1, mib, 1024) : kDefaultMaxMessageMiB;
}

Status writeMaxMessageMiB(const QString &extraIniPath, int mib)
{
    QSettings ini(extraIniPath, QSettings::IniFormat);
    ini.setValue(kMaxMessageKey, qBound(1, mib, 1024));
    ini.sync();
    if (ini.status() != QSettings::NoError)
        return Error::fileOperation(extraIniPath, QStringLiteral("設定を書き込めません"));
    return {};
}

ReceiveOptions readReceiveOptions(const QString &extraIniPath)
{
    const QSettings ini(extraIniPath, QSettings::IniFormat);
    const auto number = [&ini](const char *key, int largest) {
        bool ok = false;
        const int n = ini.value(QLatin1String(key)).toInt(&ok);
        return ok ? qBound(0, n, largest) : 0;
    };
    ReceiveOptions o;
    o.leaveOnServer = ini.value(QStringLiteral("receive/leaveOnServer"), false).toBool();
    o.deleteAfterDays = number("receive/deleteAfterDays", kLargestDeleteAfterDays);
    o.deleteWithHistory = ini.value(QStringLiteral("receive/deleteWithHistory"), false).toBool();
    o.checkEveryMinutes = number("receive/checkEveryMinutes", kLargestCheckMinutes);
    return o;
}

namespace {

// Sets values of kestra2.ini and puts them on the disk; the file stays
// readable by its owner only.
Status writeOwnerOnlyIni(const QString &extraIniPath, const std::function<void(QSettings &)> &set)
{
    {
        QSettings ini(extraIniPath, QSettings::IniFormat);
        set(ini);
        ini.sync();
        if (ini.status() != QSettings::NoError)
            return Error::fileOperation(extraIniPath, QStringLiteral("設定を書き込めません"));
    }
    QFile::setPermissions(extraIniPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return {};
}

} // namespace

Status writeReceiveOptions(const QString &extraIniPath, const ReceiveOptions &options)
{
    return writeOwnerOnlyIni(extraIniPath, [&options](QSettings &ini) {
        ini.setValue(QStringLiteral("receive/leaveOnServer"), options.leaveOnServer);
        ini.setValue(QStringLiteral("receive/deleteAfterDays"), qBound(0, options.deleteAfterDays, kLargestDeleteAfterDays));
        ini.setValue(QStringLiteral("receive/deleteWithHistory"), options.deleteWithHistory);
        ini.setValue(QStringLiteral("receive/checkEveryMinutes"), qBound(0, options.checkEveryMinutes, kLargestCheckMinutes));
    });
}

bool readKeepDrafts(const QString &extraIniPath)
{
    return QSettings(extraIniPath, QSettings::IniFormat).value(QStringLiteral("compose/keepDrafts"), false).toBool();
}

Status writeKeepDrafts(const QString &extraIniPath, bool keep)
{
    return writeOwnerOnlyIni(extraIniPath, [keep](QSettings &ini) { ini.setValue(QStringLiteral("compose/keepDrafts"), keep); });
}

QSettings *openSettingsStore()
{
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("torivane"),
                         QStringLiteral("torivane"));
}

void clearHistorySettings(QSettings &store)
{
    store.setValue(QStringLiteral("HIST/0"), QStringLiteral("EMPTY"));
    store.remove(QStringLiteral("HIST"));
    store.setValue(QStringLiteral("OKINI/0"), QStringLiteral("EMPTY"));
    store.remove(QStringLiteral("OKINI"));
    store.setValue(QStringLiteral("FLAG/AUTOSAVE"), QString());
    store.sync();
}

Status writeFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Error::fileOperation(path, file.errorString());
    if (ownerOnly)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return Error::fileOperation(path, reason);
    }
    if (!file.commit())
        return Error::fileOperation(path, file.errorString());
    return {};
}

} // namespace kestra
