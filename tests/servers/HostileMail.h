#pragma once

// Mails shaped to make a decoder do work out of proportion to their size, as
// a tests' and benchmarks' mail set: a subject of encoded-word openers that
// never close, an HTML body full of "&" without ";", and thousands of
// attachments with one name. `scale` 1 gives the sizes that once took
// seconds each; 10 gives ten times as much.
#include <QByteArray>
#include <QList>

namespace kestra::test {

inline QByteArray hostileOpeners(int scale)
{
    return "From: a@example.jp\r\nSubject: " + QByteArray("=?a?B?AAAA").repeated(14000 * scale)
           + "\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\n\r\nopeners\r\n";
}

inline QByteArray hostileAmpersands(int scale)
{
    return "From: b@example.jp\r\nSubject: amp\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\n"
           "Content-Type: text/html; charset=us-ascii\r\n\r\n<p>"
           + QByteArray("&amp &x ").repeated(25000 * scale) + "</p>\r\n";
}

inline QByteArray hostileAttachments(int scale)
{
    QByteArray m = "From: c@example.jp\r\nSubject: many\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\n"
                   "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                   "--b\r\nContent-Type: text/plain\r\n\r\nmany\r\n";
    const QByteArray part = "--b\r\nContent-Type: application/octet-stream\r\n"
                            "Content-Disposition: attachment; filename=same.txt\r\n\r\nx\r\n";
    m += part.repeated(2000 * scale);
    return m + "--b--\r\n";
}

inline QByteArray ordinaryMail(int n)
{
    return "From: Sender <sender@example.jp>\r\nSubject: =?UTF-8?B?5pmu6YCa44Gu44Oh44O844Or?= "
           + QByteArray::number(n)
           + "\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n"
           + QByteArray("\xe6\x99\xae\xe9\x80\x9a\xe3\x81\xae\xe6\x9c\xac\xe6\x96\x87\r\n").repeated(2000);
}

struct HostileShape {
    const char *name;
    QByteArray (*make)(int scale);
};

inline QList<HostileShape> hostileShapes()
{
    return {{"encoded-word openers", hostileOpeners},
            {"html ampersands", hostileAmpersands},
            {"2000 attachments named alike", hostileAttachments}};
}

} // namespace kestra::test
