#include "compose/DraftKeeper.h"

#include "common/AppState.h"
#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/UserPrompt.h"
#include "compose/BackForm.h"
#include "compose/WriteForm.h"
#include "storage/Settings.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <algorithm>

namespace kestra {

DraftKeeper::DraftKeeper(QWidget *window, QString kind, std::function<Draft()> fields)
    : QObject(window)
    , m_window(window)
    , m_kind(std::move(kind))
    , m_name(newDraftKey(m_kind))
    , m_fields(std::move(fields))
{
    window->installEventFilter(this);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &DraftKeeper::save);
    m_timer.start();
    // A program that ends with the window open keeps what was typed last.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &DraftKeeper::save);
}

void DraftKeeper::stop()
{
    m_timer.stop();
    if (m_window)
        m_window->removeEventFilter(this);
    disconnect(QCoreApplication::instance(), nullptr, this, nullptr);
    m_window = nullptr;
}

bool DraftKeeper::save()
{
    // Read at every save: the option takes effect in windows already open.
    if (!m_window || !readKeepDrafts(appPaths().extraIni()))
        return true;
    Draft now = m_fields();
    if (now == m_baseline)
        now = Draft{};
    if (now == m_kept)
        return true;
    const Status saved = DraftFile(appPaths().draftsFile()).save(m_name, now);
    if (saved) {
        m_kept = now;
        m_failureTold = false;
        return true;
    }
    if (m_failureTold)
        return false;
    m_failureTold = true;
    // After the event that asked for the save (a close, a hide) has been handled.
    const QString title = m_window->windowTitle();
    QTimer::singleShot(0, this, [title, text = saved.error().message()] {
        prompt().info(QStringLiteral("下書きを保存できません。書いている文面は保存されていません。"
                                     "ディスクの空きと「★MAilData」フォルダを確かめてください。\r\n")
                          + text,
                      title, PromptIcon::Exclamation);
    });
    return false;
}

bool DraftKeeper::hasText() const
{
    const Draft now = m_fields();
    return now != m_baseline && !now.isEmpty();
}

bool DraftKeeper::confirmClose()
{
    if (!m_window || !hasText() || !readKeepDrafts(appPaths().extraIni()))
        return true;
    switch (prompt().askSave(QStringLiteral("書いているメールを下書きとして保存しますか？\r\n"
                                            "保存した下書きは「新規作成」から開けます。"),
                             m_window->windowTitle())) {
    case SaveAnswer::Save:
        // A failure is told again here: the window stays open with its text.
        m_failureTold = false;
        return save();
    case SaveAnswer::Discard:
        discard();
        return true;
    case SaveAnswer::Cancel:
        break;
    }
    return false;
}

void DraftKeeper::adopt(const QString &key, const Draft &draft)
{
    m_name = key;
    m_kept = draft;
    m_baseline = Draft{};
}

void DraftKeeper::startNew()
{
    save();
    adopt(newDraftKey(m_kind), Draft{});
}

void DraftKeeper::discard()
{
    m_baseline = m_fields();
    if (DraftFile(appPaths().draftsFile()).remove(m_name))
        m_kept = Draft{};
}

void DraftKeeper::setBaseline()
{
    m_baseline = m_fields();
    save();
}

bool DraftKeeper::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && (event->type() == QEvent::Close || event->type() == QEvent::Hide))
        save();
    return QObject::eventFilter(watched, event);
}

namespace {

struct WaitingDraft {
    QString key;
    Draft draft;
};

bool isReply(const QString &key)
{
    return draftKind(key) == QLatin1String("BackForm");
}

// Whether a window on the screen is showing this draft already.
bool shownInWindow(const QString &key)
{
    const BackForm *reply = loadedForm<BackForm>();
    const WriteForm *compose = loadedForm<WriteForm>();
    return (reply && reply->isVisible() && reply->drafts()->name() == key)
           || (compose && compose->isVisible() && compose->drafts()->name() == key);
}

// The kept drafts no window shows, oldest first (older files' kind-only keys
// before all others). A file that cannot be read is told and offers none.
QList<WaitingDraft> waitingDrafts()
{
    if (!readKeepDrafts(appPaths().extraIni()))
        return {};
    const Result<QMap<QString, Draft>> read = DraftFile(appPaths().draftsFile()).readAll();
    if (!read) {
        prompt().info(QStringLiteral("書きかけのメールの下書きを読み取れませんでした。下書きは復元できません。\r\n")
                          + read.error().message(),
                      appTitle(), PromptIcon::Exclamation);
        return {};
    }
    QList<WaitingDraft> waiting;
    for (auto it = read.value().begin(); it != read.value().end(); ++it) {
        if (!shownInWindow(it.key()))
            waiting.append({it.key(), it.value()});
    }
    std::stable_sort(waiting.begin(), waiting.end(), [](const WaitingDraft &a, const WaitingDraft &b) {
        return a.key.section(QLatin1Char(':'), 1) < b.key.section(QLatin1Char(':'), 1);
    });
    return waiting;
}

// One line of the choice: the window, then the subject, else the first line
// of the body, else the recipient.
QString describe(const WaitingDraft &w)
{
    const Draft &d = w.draft;
    QString what = d.subject;
    if (what.trimmed().isEmpty())
        what = d.body.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (what.isEmpty())
        what = d.to.trimmed();
    if (what.isEmpty())
        what = QStringLiteral("（添付ファイルのみ）");
    const QString window = isReply(w.key) ? BackForm::caption() : WriteForm::caption();
    return QStringLiteral("%1：%2").arg(window, what.left(40));
}

template <class Window>
void openIn(Window *window, const WaitingDraft &w)
{
    // What the window holds is kept first; a window whose text cannot be
    // kept is not filled with another one.
    if (!window->drafts()->save())
        return;
    window->restoreDraft(w.draft);
    window->drafts()->adopt(w.key, w.draft);
    showInFront(window);
}

void open(const WaitingDraft &w)
{
    if (isReply(w.key))
        openIn(form<BackForm>(), w);
    else
        openIn(form<WriteForm>(), w);
}

QStringList describeAll(const QList<WaitingDraft> &waiting)
{
    QStringList lines;
    for (const WaitingDraft &w : waiting)
        lines.append(describe(w));
    return lines;
}

} // namespace

void offerDraftRestore()
{
    const QList<WaitingDraft> waiting = waitingDrafts();
    if (waiting.isEmpty())
        return;
    const int chosen = prompt().choose(
        QStringLiteral("送信していないメールの下書きが %1 通あります。開く下書きを選んでください。\r\n"
                       "開かなかった下書きは残り、「新規作成」から開けます。")
            .arg(waiting.size()),
        appTitle(), describeAll(waiting));
    if (chosen >= 0 && chosen < waiting.size())
        open(waiting.at(chosen));
}

void newMailOrDraft()
{
    WriteForm *compose = form<WriteForm>();
    const QList<WaitingDraft> waiting = compose->isVisible() ? QList<WaitingDraft>() : waitingDrafts();
    if (!waiting.isEmpty()) {
        const int chosen = prompt().choose(QStringLiteral("送信していないメールの下書きがあります。開くものを選んでください。"),
                                           WriteForm::caption(),
                                           describeAll(waiting) << QStringLiteral("（新しいメールを書く）"));
        if (chosen < 0)
            return;
        if (chosen < waiting.size()) {
            open(waiting.at(chosen));
            return;
        }
    }
    showInFront(compose);
}

} // namespace kestra
