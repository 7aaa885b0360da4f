#pragma once

#include <QListWidget>

namespace kestra {

// The history list box. A mouse press changes the selection the way a list box
// does (a press below the last line leaves it as it is) and then reports the
// press, so the window reads the mail of the row that is selected afterwards.
class HistoryListBox final : public QListWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryListBox)

public:
    explicit HistoryListBox(QWidget *parent = nullptr);

    // The selected row, or -1 when no row is selected. The current row of the
    // view is not used: the view makes row 0 current on focus without selecting it.
    int selectedRow() const;

Q_SIGNALS:
    void mouseDown();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

} // namespace kestra
