#include "net/ServerSecurity.h"

#include "common/Text.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QUrl>

namespace kestra {

namespace {

const char *group(MailProtocol protocol)
{
    switch (protocol) {
    case MailProtocol::Pop3: return "pop3";
    case MailProtocol::Imap: return "imap";
    case MailProtocol::Smtp: break;
    }
    return "smtp";
}

void ownerOnly(const QString &path)
{
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString joinedHex(const QByteArray &hex)
{
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2)
        pairs << QString::fromLatin1(hex.mid(i, 2)).toUpper();
    return pairs.join(u':');
}

QString names(const QSslCertificate &c, bool issuer)
{
    const auto info = [&](QSslCertificate::SubjectInfo what) {
        return (issuer ? c.issuerInfo(what) : c.subjectInfo(what)).join(QStringLiteral(", "));
    };
    QStringList parts;
    for (const auto what : {QSslCertificate::CommonName, QSslCertificate::Organization, QSslCertificate::CountryName}) {
        const QString text = info(what);
        if (!text.isEmpty())
            parts << text;
    }
    return parts.isEmpty() ? QStringLiteral("（名前なし）") : parts.join(QStringLiteral(" / "));
}

} // namespace


Result<ServerAddress> parseServerAddress(const QString &name, MailProtocol protocol)
{
    ServerAddress a;
    const auto fail = [](const QString &why) { return Error(why); };
    QString rest = trimBlanks(name);
    if (rest.isEmpty())
        return fail(QStringLiteral("サーバー名がありません"));
    if (const qsizetype schemeEnd = rest.indexOf(QLatin1String("://")); schemeEnd >= 0) {
        const QString scheme = rest.left(schemeEnd).toLower();
        const QString plain = QLatin1String(group(protocol));
        if (scheme == plain + u's')
            a.implicitTls = true;
        else if (scheme != plain)
            return fail(QStringLiteral("%1:// か %1s:// 以外の形式です").arg(plain));
        rest = rest.mid(schemeEnd + 3);
        if (rest.endsWith(u'/'))
            rest.chop(1);
    }
    a.port = usualPort(protocol, a.implicitTls ? Security::Tls : Security::Unset);
    if (rest.contains(u'/') || rest.contains(u'@'))
        return fail(QStringLiteral("サーバー名のほかに余分な部分（/ や @）があります"));

    QString portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return fail(QStringLiteral("IPv6アドレスの ] がありません"));
        a.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (after.startsWith(u':'))
            portText = after.mid(1);
        else if (!after.isEmpty())
            return fail(QStringLiteral("] の後に余分な文字があります"));
    } else if (rest.count(u':') == 1) {
        a.host = rest.section(u':', 0, 0);
        portText = rest.section(u':', 1);
    } else {
        a.host = rest; // a host name, or an IPv6 address without a port
    }
    if (!portText.isNull()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return fail(QStringLiteral("ポート番号「%1」が正しくありません").arg(portText));
        a.port = int(port);
        a.portGiven = true;
    }
    if (a.host.isEmpty())
        return fail(QStringLiteral("ホスト名がありません"));
    for (const QChar c : std::as_const(a.host)) {
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-' && c != u'_' && c != u':')
            return fail(c.isSpace() ? QStringLiteral("ホスト名に空白があります")
                                    : QStringLiteral("ホスト名に使えない文字「%1」があります").arg(c));
    }
    return a;
}

int usualPort(MailProtocol protocol, Security security)
{
    if (protocol == MailProtocol::Pop3)
        return security == Security::Tls ? 995 : 110;
    if (protocol == MailProtocol::Imap)
        return security == Security::Tls ? 993 : 143;
    switch (security) {
    case Security::Tls: return 465;
    case Security::StartTls: return 587;
    default: return 25; // also what earlier versions always used
    }
}

QString securityKey(Security security)
{
    switch (security) {
    case Security::StartTls: return QStringLiteral("starttls");
    case Security::Tls: return QStringLiteral("tls");
    case Security::None: return QStringLiteral("none");
    case Security::Unset: break;
    }
    return {};
}

Security securityFromKey(const QString &key)
{
    for (const Security s : {Security::StartTls, Security::Tls, Security::None}) {
        if (key.compare(securityKey(s), Qt::CaseInsensitive) == 0)
            return s;
    }
    return Security::Unset;
}

ServerConnection readServerConnection(const QString &iniPath, MailProtocol protocol)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.beginGroup(QLatin1String(group(protocol)));
    ServerConnection c;
    c.security = securityFromKey(ini.value(QStringLiteral("security")).toString());
    c.port = qBound(0, ini.value(QStringLiteral("port")).toInt(), 65535);
    c.timeoutSeconds = qMax(0, ini.value(QStringLiteral("timeout")).toInt());
    c.user = ini.value(QStringLiteral("user")).toString();
    c.password = ini.value(QStringLiteral("password")).toString();
    c.receiving = ini.value(QStringLiteral("receive")).toBool();
    c.server = ini.value(QStringLiteral("server")).toString();
    return c;
}

Status writeServerConnection(const QString &iniPath, MailProtocol protocol, const ServerConnection &c)
{
    {
        QSettings ini(iniPath, QSettings::IniFormat);
        ini.beginGroup(QLatin1String(group(protocol)));
        ini.setValue(QStringLiteral("security"), securityKey(c.security));
        ini.setValue(QStringLiteral("port"), c.port);
        if (protocol == MailProtocol::Smtp) {
            ini.setValue(QStringLiteral("user"), c.user);
            ini.setValue(QStringLiteral("password"), c.password);
        }
        if (protocol == MailProtocol::Imap) {
            ini.setValue(QStringLiteral("receive"), c.receiving);
            ini.setValue(QStringLiteral("server"), c.server);
        }
        ini.endGroup();
        ini.sync();
        if (ini.status() != QSettings::NoError)
            return Error(QStringLiteral("接続の設定を %1 に保存できません。").arg(iniPath));
    }
    ownerOnly(iniPath);
    return {};
}

QByteArray certificateFingerprint(const QSslCertificate &certificate)
{
    return certificate.digest(QCryptographicHash::Sha256).toHex();
}

CertificateFacts certificateFacts(const QSslCertificate &c)
{
    CertificateFacts f;
    f.subject = names(c, false);
    f.issuer = names(c, true);
    f.validFrom = c.effectiveDate().toUTC().toString(QStringLiteral("yyyy/MM/dd HH:mm 'UTC'"));
    f.validUntil = c.expiryDate().toUTC().toString(QStringLiteral("yyyy/MM/dd HH:mm 'UTC'"));
    f.sha256 = joinedHex(certificateFingerprint(c));
    return f;
}

bool certificateInValidity(const QSslCertificate &certificate, const QList<QSslError> &errors)
{
    for (const QSslError &e : errors) {
        if (e.error() == QSslError::CertificateExpired || e.error() == QSslError::CertificateNotYetValid)
            return false;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return !certificate.isNull() && certificate.effectiveDate().isValid() && certificate.expiryDate().isValid()
        && certificate.effectiveDate() <= now && now <= certificate.expiryDate();
}

QString certificateReasons(const QList<QSslError> &errors, const QString &host)
{
    QStringList reasons;
    const auto add = [&](const QString &text) {
        if (!reasons.contains(text))
            reasons << text;
    };
    for (const QSslError &e : errors) {
        switch (e.error()) {
        case QSslError::CertificateExpired:
            add(QStringLiteral("証明書の有効期限が切れています"));
            break;
        case QSslError::CertificateNotYetValid:
            add(QStringLiteral("証明書の有効期間がまだ始まっていません"));
            break;
        case QSslError::HostNameMismatch:
            add(QStringLiteral("証明書はサーバー名「%1」のものではありません").arg(host));
            break;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
            add(QStringLiteral("証明書がサーバー自身で署名されたもので、このコンピューターが信頼する発行者のものではありません"));
            break;
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            add(QStringLiteral("証明書の発行者がこのコンピューターで信頼されていません"));
            break;
        case QSslError::CertificateRevoked:
            add(QStringLiteral("証明書は取り消されています"));
            break;
        default:
            add(QStringLiteral("証明書を確かめられません（%1）").arg(e.errorString()));
            break;
        }
    }
    return reasons.join(QStringLiteral("。"));
}

ServerMemory::ServerMemory(QString iniPath, MailProtocol protocol, const QString &host, int port)
    : m_path(std::move(iniPath))
    , m_prefix(QLatin1String(group(protocol)))
    , m_server(host + u':' + QString::number(port))
{
    m_key = QString::fromLatin1(QUrl::toPercentEncoding(host.toLower() + u':' + QString::number(port)));
}

QString ServerMemory::value(const char *what) const
{
    QSettings ini(m_path, QSettings::IniFormat);
    return ini.value(m_prefix + u'-' + QLatin1String(what) + u'/' + m_key).toString();
}

void ServerMemory::setValue(const char *what, const QString &value) const
{
    {
        QSettings ini(m_path, QSettings::IniFormat);
        ini.setValue(m_prefix + u'-' + QLatin1String(what) + u'/' + m_key, value);
    }
    ownerOnly(m_path);
}

bool ServerMemory::tlsSeen() const
{
    return value("tls-seen") == QLatin1String("1");
}

void ServerMemory::rememberTls() const
{
    if (!tlsSeen())
        setValue("tls-seen", QStringLiteral("1"));
}

int ServerMemory::plainAnswer() const
{
    const QString v = value("plain-password");
    return v == QLatin1String("yes") ? 1 : v == QLatin1String("no") ? -1 : 0;
}

void ServerMemory::rememberPlainAnswer(bool allowed) const
{
    setValue("plain-password", allowed ? QStringLiteral("yes") : QStringLiteral("no"));
}

QByteArray ServerMemory::trustedFingerprint() const
{
    return value("certificate").toLatin1();
}

void ServerMemory::trust(const QSslCertificate &certificate) const
{
    setValue("certificate", QString::fromLatin1(certificateFingerprint(certificate)));
}

namespace securityQuestions {

Status plainLogin(SecurityPrompt *prompt, const ServerMemory &memory, const QString &protocolName)
{
    const QString server = memory.serverText();
    if (memory.tlsSeen())
        return Error(QStringLiteral("%1サーバー「%2」は以前は暗号化通信に対応していましたが、今回は対応していないと答えました。"
                              "通信が途中で書き換えられているおそれがあるため、接続を中止しました。パスワードは送っていません。\r\n"
                              "しばらくしてからもう一度試してください。続くときはプロバイダーかネットワークの管理者に確かめてください。")
            .arg(protocolName, server));
    switch (memory.plainAnswer()) {
    case 1:
        return {};
    case -1:
        return Error(QStringLiteral("%1サーバー「%2」は暗号化通信に対応していません。以前のお答えに従い、パスワードは送らずに接続を中止しました。\r\n"
                              "暗号化なしで使うときは、「設定」の「POPサーバー」で接続の保護を「なし」にしてください。")
            .arg(protocolName, server));
    default:
        break;
    }
    if (!prompt)
        return plainLoginRefused(protocolName, server);
    if (!prompt->attended())
        return Error(QStringLiteral("%1サーバー「%2」は暗号化通信に対応していません。自動受信では確かめられないため、接続を中止しました。パスワードは送っていません。\r\n"
                                    "「受信」を押すと、続けるかどうかを尋ねます。")
            .arg(protocolName, server));
    const bool allowed = prompt->ask(
        QStringLiteral("%1サーバー「%2」は暗号化通信に対応していません。このお答えはこのサーバーについて覚えておき、次からは尋ねません。\r\n"
                       "このまま続けると、IDとパスワードが暗号化されずに送られます。続けますか？")
            .arg(protocolName, server),
        QStringLiteral("確認"), false);
    memory.rememberPlainAnswer(allowed);
    if (!allowed)
        return Error::answered();
    return {};
}

Error plainLoginRefused(const QString &protocolName, const QString &server)
{
    return Error(QStringLiteral("%1サーバー「%2」は暗号化通信に対応していないため、接続を中止しました。パスワードは送っていません。")
            .arg(protocolName, server));
}

bool trustCertificate(SecurityPrompt *prompt, const ServerMemory &memory, const QString &protocolName, const QSslCertificate &certificate,
    const QList<QSslError> &errors, const QString &host, const QString &title)
{
    const CertificateFacts f = certificateFacts(certificate);
    const QByteArray trusted = memory.trustedFingerprint();
    QString before;
    if (trusted == certificateFingerprint(certificate))
        before = certificate.expiryDate() < QDateTime::currentDateTimeUtc()
            ? QStringLiteral("以前に信頼した証明書ですが、有効期限が切れています。")
            : QStringLiteral("以前に信頼した証明書ですが、有効期間の外です。");
    else if (!trusted.isEmpty())
        before = QStringLiteral("以前に信頼した証明書とは別の証明書です。");
    const QString text
        = QStringLiteral("%1サーバー「%2」の証明書を確認できないため、接続を中止しました。パスワードは送っていません。\r\n"
                         "理由: %3。%4\r\n\r\n"
                         "発行先: %5\r\n発行者: %6\r\n有効期間: %7 から %8 まで\r\nSHA-256 指紋: %9\r\n\r\n")
              .arg(protocolName, memory.serverText(), certificateReasons(errors, host),
                  before, f.subject, f.issuer,
                  f.validFrom, f.validUntil, f.sha256)
        + QStringLiteral("サーバーの管理者から知らされた指紋と同じときだけ「はい」を選んでください。"
                         "このサーバーについて、この証明書だけを信頼して接続し直します。信頼しますか？");
    if (!prompt || !prompt->attended() || !prompt->ask(text, title, true))
        return false;
    memory.trust(certificate);
    return true;
}

} // namespace securityQuestions

} // namespace kestra
