#include "mime/MimeMessage.h"

#include <QStringList>

namespace kestra::mime {

QString htmlToText(QStringView html)
{
    static const QStringList blockTags = {
        QStringLiteral("br"), QStringLiteral("p"), QStringLiteral("div"), QStringLiteral("tr"),
        QStringLiteral("li"), QStringLiteral("h1"), QStringLiteral("h2"), QStringLiteral("h3"),
        QStringLiteral("h4"), QStringLiteral("h5"), QStringLiteral("h6"), QStringLiteral("table"),
        QStringLiteral("blockquote"), QStringLiteral("hr"), QStringLiteral("pre"), QStringLiteral("ul"),
        QStringLiteral("ol"), QStringLiteral("title"),
    };
    QString out;
    out.reserve(html.size());
    bool pendingSpace = false;
    const qsizetype n = html.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = html[i];
        if (c == u'<') {
            if (html.sliced(i).startsWith(u"<!--")) {
                const qsizetype end = html.indexOf(u"-->", i + 4);
                i = end < 0 ? n : end + 3;
                continue;
            }
            const qsizetype close = html.indexOf(u'>', i);
            if (close < 0)
                break;
            QStringView tag = html.sliced(i + 1, close - i - 1).trimmed();
            const bool ending = tag.startsWith(u'/');
            if (ending)
                tag = tag.sliced(1);
            qsizetype nameEnd = 0;
            while (nameEnd < tag.size() && (tag[nameEnd].isLetterOrNumber()))
                ++nameEnd;
            const QString name = tag.first(nameEnd).toString().toLower();
            i = close + 1;
            if (!ending && (name == u"script" || name == u"style")) {
                const qsizetype end = html.indexOf(QString(QStringLiteral("</") + name), i, Qt::CaseInsensitive);
                const qsizetype endClose = end < 0 ? -1 : html.indexOf(u'>', end);
                i = endClose < 0 ? n : endClose + 1;
                continue;
            }
            if (blockTags.contains(name)) {
                if (!out.isEmpty() && !out.endsWith(u'\n'))
                    out += u'\n';
                else if (name == u"p" && ending)
                    out += u'\n';
                pendingSpace = false;
            } else if (name == u"td" || name == u"th") {
                pendingSpace = true;
            }
            continue;
        }
        if (c == u'&') {
            // A reference ends within a few characters; looking further for
            // its ";" would make a page full of "&" take quadratic time.
            constexpr qsizetype kLongestReference = 10;
            const qsizetype window = qMin(n - i, kLongestReference + 1);
            const qsizetype found = html.sliced(i, window).indexOf(u';');
            const qsizetype semi = found < 0 ? -1 : i + found;
            if (semi > i) {
                const QStringView entity = html.sliced(i + 1, semi - i - 1);
                QString decoded;
                if (entity.startsWith(u'#')) {
                    bool ok = false;
                    const uint code = (entity.size() > 1 && (entity[1] == u'x' || entity[1] == u'X'))
                                          ? entity.sliced(2).toUInt(&ok, 16)
                                          : entity.sliced(1).toUInt(&ok, 10);
                    if (ok && code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
                        const char32_t ch = char32_t(code);
                        decoded = QString::fromUcs4(&ch, 1);
                    }
                } else if (entity == u"amp") {
                    decoded = QStringLiteral("&");
                } else if (entity == u"lt") {
                    decoded = QStringLiteral("<");
                } else if (entity == u"gt") {
                    decoded = QStringLiteral(">");
                } else if (entity == u"quot") {
                    decoded = QStringLiteral("\"");
                } else if (entity == u"apos") {
                    decoded = QStringLiteral("'");
                } else if (entity == u"nbsp") {
                    decoded = QStringLiteral(" ");
                } else if (entity == u"copy") {
                    decoded = QStringLiteral("©");
                } else if (entity == u"yen") {
                    decoded = QStringLiteral("¥");
                }
                if (!decoded.isEmpty()) {
                    if (pendingSpace && !out.isEmpty() && !out.endsWith(u'\n'))
                        out += u' ';
                    pendingSpace = false;
                    out += decoded;
                    i = semi + 1;
                    continue;
                }
            }
        }
        if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
            pendingSpace = true;
            ++i;
            continue;
        }
        if (pendingSpace && !out.isEmpty() && !out.endsWith(u'\n'))
            out += u' ';
        pendingSpace = false;
        out += c;
        ++i;
    }
    return out.trimmed();
}

} // namespace kestra::mime
