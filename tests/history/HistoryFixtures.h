#pragma once

#include "common/Forms.h"
#include "history/HistoryListBox.h"
#include "history/TyakuForm.h"
#include "storage/Records.h"
#include "support/TestSupport.h"

#include <QListWidget>
#include <QStringList>
#include <QTest>

namespace kestra::test {

inline MailRecord mail(const QString &subject, const QString &header2, const QString &header3,
                       const QString &body)
{
    MailRecord r;
    r.Subject = subject;
    r.Header2 = header2;
    r.Header3 = header3;
    r.Body = body;
    return r;
}

// A received mail numbered n: sender, date, subject and body tell it apart.
inline MailRecord receivedMail(int n)
{
    return mail(QStringLiteral("件名%1").arg(n), QStringLiteral("sender%1@example.com").arg(n),
                QStringLiteral("Mon, %1 Dec 2026 10:00:00 +0900").arg(n),
                QStringLiteral("  本文%1\r\n二行目  ").arg(n));
}

inline QByteArray storeBytes(const QList<MailRecord> &records)
{
    QByteArray bytes;
    for (const MailRecord &r : records)
        bytes += r.encode();
    return bytes;
}

inline QStringList listLines(const QListWidget *list)
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines.append(list->item(i)->text());
    return lines;
}

// Presses the mouse on a row of the history list, or below the last row with row -1.
inline void pressRow(HistoryListBox *list, int row)
{
    QPoint at;
    if (row >= 0) {
        list->scrollToItem(list->item(row));
        at = list->visualItemRect(list->item(row)).center();
    } else {
        at = QPoint(10, list->viewport()->height() - 3);
    }
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
}

// Unloads the history window between cases.
inline void unloadHistory()
{
    unloadForm<TyakuForm>();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace kestra::test
