#include "history/HistoryListBox.h"

#include <QMouseEvent>

namespace kestra {

HistoryListBox::HistoryListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Every line has the same height: large lists lay out without measuring each line.
    setUniformItemSizes(true);
}

int HistoryListBox::selectedRow() const
{
    const QModelIndexList rows = selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void HistoryListBox::mousePressEvent(QMouseEvent *event)
{
    if (indexAt(event->position().toPoint()).isValid())
        QListWidget::mousePressEvent(event);
    else
        setFocus(Qt::MouseFocusReason);
    Q_EMIT mouseDown();
}

} // namespace kestra
