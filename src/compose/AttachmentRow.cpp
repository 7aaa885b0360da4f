#include "compose/AttachmentRow.h"

#include "common/UserPrompt.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace kestra {

namespace {
QString pickFile()
{
    return prompt().openFileName(QStringLiteral("添付ファイル"), QString(), QString());
}
} // namespace

void AttachmentRow::pickFirst() const
{
    more->setEnabled(true);
    const QString path = pickFile();
    if (!path.isEmpty()) {
        // Files attached before stay attached: the box and the list keep
        // naming the same files.
        paths->setText(paths->text().isEmpty() ? path : paths->text() + QLatin1Char(',') + path);
        list->addItem(path);
    }
    first->setEnabled(false);
}

void AttachmentRow::pickMore() const
{
    list->show();
    list->raise();
    if (paths->text().isEmpty())
        return;
    const QString path = pickFile();
    if (!path.isEmpty()) {
        paths->setText(paths->text() + QLatin1Char(',') + path);
        list->addItem(path);
    }
}

void AttachmentRow::drop() const
{
    paths->clear();
    list->clear();
    list->hide();
    more->setEnabled(false);
    dropAll->setEnabled(false);
    first->setEnabled(true);
}

void AttachmentRow::restore(const QString &joined) const
{
    if (joined.isEmpty())
        return;
    paths->setText(joined);
    list->addItems(joined.split(QLatin1Char(',')));
    first->setEnabled(false);
    more->setEnabled(true);
    dropAll->setEnabled(true);
}

} // namespace kestra
