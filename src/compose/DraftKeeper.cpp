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

namespace kestra {

DraftKeeper::DraftKeeper(QWidget *window, QString name, std::function<Draft()> fields)
    : QObject(window)
    , m_window(window)
    , m_name(std::move(name))
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

void DraftKeeper::save()
{
    // Read at every save: the option takes effect in windows already open.
    if (!m_window || !readKeepDrafts(appPaths().extraIni()))
        return;
    Draft now = m_fields();
    if (now == m_baseline)
        now = Draft{};
    if (now == m_kept)
        return;
    const Status saved = DraftFile(appPaths().draftsFile()).save(m_name, now);
    if (saved) {
        m_kept = now;
        m_failureTold = false;
        return;
    }
    if (m_failureTold)
        return;
    m_failureTold = true;
    // After the event that asked for the save (a close, a hide) has been handled.
    const QString title = m_window->windowTitle();
    QTimer::singleShot(0, this, [title, text = saved.error().message()] {
        prompt().info(QStringLiteral("下書きを保存できません。書いている文面は保存されていません。"
                                     "ディスクの空きと「★MAilData」フォルダを確かめてください。\r\n")
                          + text,
                      title, PromptIcon::Exclamation);
    });
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

void offerDraftRestore()
{
    if (!readKeepDrafts(appPaths().extraIni()))
        return;
    const DraftFile file(appPaths().draftsFile());
    const Result<QMap<QString, Draft>> read = file.readAll();
    if (!read) {
        prompt().info(QStringLiteral("書きかけのメールの下書きを読み取れませんでした。下書きは復元できません。\r\n")
                          + read.error().message(),
                      appTitle(), PromptIcon::Exclamation);
        return;
    }
    const QMap<QString, Draft> &drafts = read.value();
    for (auto it = drafts.begin(); it != drafts.end(); ++it) {
        const Draft &d = it.value();
        QWidget *window = nullptr;
        if (it.key() == QLatin1String("WriteForm")) {
            if (prompt().message(QStringLiteral("下書きを復元しますか？"), WriteForm::caption(), PromptIcon::Question,
                                 PromptButtons::YesNo) == PromptAnswer::Yes) {
                WriteForm *w = form<WriteForm>();
                w->restoreDraft(d);
                window = w;
            }
        } else if (it.key() == QLatin1String("BackForm")) {
            if (prompt().message(QStringLiteral("下書きを復元しますか？"), BackForm::caption(), PromptIcon::Question,
                                 PromptButtons::YesNo) == PromptAnswer::Yes) {
                BackForm *w = form<BackForm>();
                w->restoreDraft(d);
                window = w;
            }
        }
        if (window)
            showInFront(window);
        else
            (void)file.remove(it.key());
    }
}

} // namespace kestra
