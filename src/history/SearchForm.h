#pragma once

#include "history/MailSearch.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <atomic>
#include <memory>

class QLabel;
class QLineEdit;
class QTableView;
class QThreadPool;

namespace kestra {

// Columns of the search results.
enum SearchColumn { ColumnDate, ColumnStore, ColumnAddress, ColumnSubject, SearchColumnCount };

// Puts `rows` (entries of `index`) in the order of one column; dates that could
// not be read come after the read ones, in the order of their text.
void sortSearchRows(const MailSearchIndex &index, QList<int> &rows, int column, Qt::SortOrder order);

// The hits of one search as table rows: 日時 (local time, or the stored text
// when it could not be read), 送信/受信, 相手, 件名.
class SearchResultModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchResultModel)

public:
    explicit SearchResultModel(QObject *parent = nullptr);

    // Rows already in the order of the current sort column.
    void setResults(std::shared_ptr<const MailSearchIndex> index, QList<int> rows);
    const SearchEntry &entryAt(int row) const;
    const QList<int> &rows() const { return m_rows; }
    const std::shared_ptr<const MailSearchIndex> &searchIndex() const { return m_index; }
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    std::shared_ptr<const MailSearchIndex> m_index;
    QList<int> m_rows;
    int m_sortColumn = ColumnDate;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder; // newest first
};

// The mail search window "メール検索": finds mail of both stores by sender or
// recipient, subject and body while the user types, and opens the chosen one
// in the history window. Searching runs on a worker thread; a key pressed while
// a search runs stops it and starts the next one.
//
// Controls:
//   Text1   search text (words separated by blanks must all occur)
//   Label1  number of hits, "検索中..." while searching
//   Grid1   results: 日時, 送信/受信, 相手, 件名; a header click sorts;
//           double-click or Enter opens the mail in the history window
class SearchForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchForm)

public:
    explicit SearchForm(QWidget *parent = nullptr);
    ~SearchForm() override;

    // Searches for the box's text now (the box calls it on every change).
    void Text1_Change();
    // Opens the mail of result row `row` in the history window.
    void OpenResult(int row);
    // Shows the window in front with the focus in the search box, its text selected.
    void showWithFocus();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Shared {
        std::atomic<quint64> generation{0};
        std::atomic<bool> closing{false};
        MailSearchCache cache;
    };
    void showResults(quint64 generation, std::shared_ptr<const MailSearchIndex> index, QStringList words,
                     QList<int> rows, int column, Qt::SortOrder order);
    void showError(quint64 generation, const QString &message);

    std::shared_ptr<Shared> m_shared;
    QThreadPool *m_pool = nullptr;
    QStringList m_shownWords; // the words whose hits the table shows

    // Controls, by their fixed names (the table above).
    QLineEdit *Text1 = nullptr;
    QLabel *Label1 = nullptr;
    QTableView *Grid1 = nullptr;
    SearchResultModel *model = nullptr;
};

// Shows the search window (creating it on first use) with the focus in its box.
void openSearchWindow();

// Opens the history of store `historyMode` and selects and shows record `number`.
// False (with a message) when the store no longer has that record.
bool showMailInHistory(qint16 historyMode, qint32 number);

} // namespace kestra
