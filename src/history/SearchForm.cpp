#include "history/SearchForm.h"

#include "common/AppState.h"
#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/MailDate.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "history/HistoryStore.h"
#include "history/TyakuForm.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>

namespace kestra {

void sortSearchRows(const MailSearchIndex &index, QList<int> &rows, int column, Qt::SortOrder order)
{
    const auto before = [&](int a, int b) {
        const SearchEntry &x = index.entry(a);
        const SearchEntry &y = index.entry(b);
        switch (column) {
        case ColumnDate:
            if (x.hasDate() != y.hasDate())
                return x.hasDate();
            if (x.hasDate())
                return x.when < y.when;
            return x.dateText < y.dateText;
        case ColumnStore:
            return x.historyMode < y.historyMode;
        case ColumnAddress:
            return x.address.compare(y.address, Qt::CaseInsensitive) < 0;
        default:
            return x.subject.compare(y.subject, Qt::CaseInsensitive) < 0;
        }
    };
    if (order == Qt::AscendingOrder)
        std::stable_sort(rows.begin(), rows.end(), before);
    else
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) { return before(b, a); });
}

SearchResultModel::SearchResultModel(QObject *parent) : QAbstractTableModel(parent) {}

void SearchResultModel::setResults(std::shared_ptr<const MailSearchIndex> index, QList<int> rows)
{
    beginResetModel();
    m_index = std::move(index);
    m_rows = std::move(rows);
    endResetModel();
}

const SearchEntry &SearchResultModel::entryAt(int row) const
{
    return m_index->entry(m_rows.at(row));
}

int SearchResultModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int SearchResultModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : SearchColumnCount;
}

QVariant SearchResultModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const SearchEntry &e = entryAt(index.row());
    if (role == Qt::ToolTipRole && index.column() == ColumnDate)
        return e.dateText;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColumnDate:
        return e.hasDate() ? localDateText(QDateTime::fromMSecsSinceEpoch(e.when)) : e.dateText;
    case ColumnStore:
        return e.historyMode == 2 ? QStringLiteral("送信") : QStringLiteral("受信");
    case ColumnAddress:
        return e.address;
    default:
        return e.subject;
    }
}

QVariant SearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColumnDate:
        return QStringLiteral("日時");
    case ColumnStore:
        return QStringLiteral("送信/受信");
    case ColumnAddress:
        return QStringLiteral("相手");
    default:
        return QStringLiteral("件名");
    }
}

void SearchResultModel::sort(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = order;
    if (!m_index)
        return;
    Q_EMIT layoutAboutToBeChanged();
    sortSearchRows(*m_index, m_rows, column, order);
    Q_EMIT layoutChanged();
}

SearchForm::SearchForm(QWidget *parent) : QWidget(parent, Qt::Window), m_shared(std::make_shared<Shared>())
{
    setObjectName(QStringLiteral("SearchForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("メール検索"));
    resize(twipsToPx(9600), twipsToPx(6000));

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setPlaceholderText(QStringLiteral("差出人・宛先・件名・本文から探す語"));
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    model = new SearchResultModel(this);
    model->setObjectName(QStringLiteral("model"));
    Grid1 = new QTableView(this);
    Grid1->setObjectName(QStringLiteral("Grid1"));
    Grid1->setModel(model);
    Grid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid1->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid1->setSortingEnabled(true);
    Grid1->horizontalHeader()->setSortIndicator(model->sortColumn(), model->sortOrder());
    Grid1->horizontalHeader()->setStretchLastSection(true);
    Grid1->verticalHeader()->hide();
    Grid1->setColumnWidth(ColumnDate, twipsToPx(1800));
    Grid1->setColumnWidth(ColumnStore, twipsToPx(1000));
    Grid1->setColumnWidth(ColumnAddress, twipsToPx(2800));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Text1);
    layout->addWidget(Label1);
    layout->addWidget(Grid1, 1);

    // One worker: a search waiting behind a newer one finds itself stale and ends at once.
    m_pool = new QThreadPool(this);
    m_pool->setMaxThreadCount(1);

    connect(Text1, &QLineEdit::textChanged, this, &SearchForm::Text1_Change);
    connect(Grid1, &QTableView::doubleClicked, this, [this](const QModelIndex &i) { OpenResult(i.row()); });
    Grid1->installEventFilter(this);
    Text1->installEventFilter(this);
    // What was typed is only a search: Esc closes the window without asking.
    closeOnEscape(this);

    // The stores are read while the user starts typing, so the first key does not wait for them.
    m_pool->start([shared = m_shared, received = historyStorePath(1), sent = historyStorePath(2)] {
        (void)shared->cache.current(received, sent, [&] { return shared->closing.load(); });
    });
}

SearchForm::~SearchForm()
{
    m_shared->closing = true;
    ++m_shared->generation;
    m_pool->clear();
    m_pool->waitForDone();
}

void SearchForm::Text1_Change()
{
    const quint64 generation = ++m_shared->generation;
    const QStringList words = searchWords(Text1->text());
    if (words.isEmpty()) {
        model->setResults(model->searchIndex(), {});
        m_shownWords.clear();
        Label1->clear();
        return;
    }
    Label1->setText(QStringLiteral("検索中..."));
    // A longer text only narrows the hits on the table: look at those alone.
    std::shared_ptr<const MailSearchIndex> previous;
    QList<int> within;
    if (model->searchIndex() && refines(words, m_shownWords)) {
        previous = model->searchIndex();
        within = model->rows();
    }
    const QString receivedPath = historyStorePath(1);
    const QString sentPath = historyStorePath(2);
    const int column = model->sortColumn();
    const Qt::SortOrder order = model->sortOrder();
    std::shared_ptr<Shared> shared = m_shared;
    m_pool->start([=, this] {
        const auto stale = [&] { return shared->generation != generation || shared->closing; };
        if (stale())
            return;
        Result<std::shared_ptr<const MailSearchIndex>> index =
            shared->cache.current(receivedPath, sentPath, [&] { return shared->closing.load(); });
        if (!index) {
            const QString message = index.error().message();
            QMetaObject::invokeMethod(this, [=, this] { showError(generation, message); }, Qt::QueuedConnection);
            return;
        }
        const bool narrow = previous && previous == index.value();
        std::optional<QList<int>> hits = index.value()->search(words, narrow ? &within : nullptr, stale);
        if (!hits)
            return;
        sortSearchRows(*index.value(), *hits, column, order);
        QMetaObject::invokeMethod(
            this,
            [=, this, idx = index.value(), rows = *hits] {
                showResults(generation, idx, words, rows, column, order);
            },
            Qt::QueuedConnection);
    });
}

void SearchForm::showResults(quint64 generation, std::shared_ptr<const MailSearchIndex> index,
                             QStringList words, QList<int> rows, int column, Qt::SortOrder order)
{
    if (generation != m_shared->generation)
        return; // a newer search is on its way
    // The user may have sorted by another column while the search ran.
    if (model->sortColumn() != column || model->sortOrder() != order)
        sortSearchRows(*index, rows, model->sortColumn(), model->sortOrder());
    model->setResults(std::move(index), std::move(rows));
    m_shownWords = std::move(words);
    Label1->setText(QString::number(model->rowCount()) + QStringLiteral(" 件"));
}

void SearchForm::showError(quint64 generation, const QString &message)
{
    if (generation != m_shared->generation)
        return;
    Label1->clear();
    prompt().info(message + QStringLiteral("\nメールを検索できませんでした。ファイルを確かめてからもう一度検索して下さい。"),
                  appTitle(), PromptIcon::Exclamation);
}

void SearchForm::OpenResult(int row)
{
    if (row < 0 || row >= model->rowCount())
        return;
    if (!model->searchIndex()->isCurrent()) {
        // Deleting or receiving mail renumbers records: the hit may point elsewhere now.
        prompt().info(QStringLiteral("検索の後でメールが変わりました。検索し直しますので、もう一度選んで下さい。"),
                      appTitle());
        Text1_Change();
        return;
    }
    const SearchEntry &e = model->entryAt(row);
    showMailInHistory(e.historyMode, e.number);
}

bool SearchForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (watched == Grid1 && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            OpenResult(Grid1->currentIndex().row());
            return true;
        }
        // Down from the box goes to the first hit.
        if (watched == Text1 && key == Qt::Key_Down && model->rowCount() > 0) {
            Grid1->setFocus();
            Grid1->selectRow(0);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SearchForm::showWithFocus()
{
    show();
    raise();
    activateWindow();
    Text1->setFocus();
    Text1->selectAll();
}

void openSearchWindow()
{
    form<SearchForm>()->showWithFocus();
}

bool showMailInHistory(qint16 historyMode, qint32 number)
{
    openHistoryWindow(historyMode);
    if (!form<TyakuForm>()->selectRecord(number)) {
        prompt().info(QStringLiteral("このメールは履歴にもうありません。検索し直して下さい。"), appTitle());
        return false;
    }
    return true;
}

} // namespace kestra
