#include "app/AutoCheck.h"

#include "settings/MailOptionsInForce.h"
#include "app/MainForm.h"
#include "app/ProgramIcon.h"
#include "app/ReceiveMail.h"
#include "mail/MailPorts.h"
#include "common/AppState.h"
#include "common/Clock.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "common/UserPrompt.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "storage/StoreGuard.h"
#include "net/ServerSecurity.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QSystemTrayIcon>
#include <QThread>

namespace kestra {

namespace {

// Collects what a run would have shown; questions get the cautious answer.
class CollectingPrompt final : public UserPrompt
{
public:
    QStringList texts;
    PromptAnswer message(const QString &text, const QString &, PromptIcon, PromptButtons buttons, PromptDefault) override
    {
        if (!trimBlanks(text).isEmpty())
            texts.append(text);
        switch (buttons) {
        case PromptButtons::YesNo: return PromptAnswer::No;
        case PromptButtons::OkCancel: return PromptAnswer::Cancel;
        case PromptButtons::Ok: break;
        }
        return PromptAnswer::Ok;
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return {}; }
};

QString progressIndicator(int n, int count)
{
    return count > 0 ? QStringLiteral("自動受信しています。（%1 / %2）").arg(n).arg(count)
                     : QStringLiteral("自動受信しています。");
}

const QString &errorIndicator()
{
    static const QString text = QStringLiteral("自動受信でエラーがありました。（クリックで表示）");
    return text;
}

// Carries the run's progress to the indicator and keeps the senders of the
// messages it fetched, in order, for the announcement.
class IndicatorObserver final : public ReceiveObserver
{
public:
    explicit IndicatorObserver(std::function<void(int, int)> show) : m_show(std::move(show)) {}

    void checking() override { m_show(0, 0); }
    void progress(int n, int count) override { m_show(n, count); }
    void fetched(int, const ReceivedMail &mail) override { senders.append(trimBlanks(mail.from)); }

    QStringList senders; // read once the run's thread has ended

private:
    std::function<void(int, int)> m_show;
};

// Nobody is there to answer an automatic run's questions: they are not asked.
class NobodyToAsk final : public SecurityPrompt
{
public:
    bool ask(const QString &, const QString &, bool) override { return false; }
    bool attended() const override { return false; }
};

} // namespace

// One automatic run: its inputs, the engine on its own thread, and the hold
// that keeps the store from being compacted under it.
struct AutoCheck::Job {
    Job(const ReceiveInputs &in, std::function<void(int, int)> show)
        : inputs(in)
        , observer(std::move(show))
        // The server settings in force, read here: nothing on the worker
        // thread reads program-wide state.
        , mailbox(mailPorts().mailbox(mailOptionsInForce(), &nobody))
        , run(*mailbox, inputs, &observer)
        , hold(std::make_unique<StoreHold>(inputs.storePath))
    {
    }

    ReceiveInputs inputs;
    IndicatorObserver observer;
    NobodyToAsk nobody;
    std::unique_ptr<MailboxSession> mailbox;
    ReceiveRun run;
    std::unique_ptr<StoreHold> hold;
    ReceiveResult result;
    std::unique_ptr<QThread> thread;
};

TrayNotifier::TrayNotifier(std::function<void()> clicked)
    : m_icon(std::make_unique<QSystemTrayIcon>(programIcon()))
{
    QObject::connect(m_icon.get(), &QSystemTrayIcon::activated, m_icon.get(),
                     [clicked = std::move(clicked)](QSystemTrayIcon::ActivationReason) { clicked(); });
    QObject::connect(m_icon.get(), &QSystemTrayIcon::messageClicked, m_icon.get(), [clicked] { clicked(); });
    m_icon->show();
}

TrayNotifier::~TrayNotifier() = default;

void TrayNotifier::setStatus(const QString &text)
{
    m_icon->setToolTip(text);
    m_icon->setIcon(programIcon(text == newMailIndicator()));
}

QIcon TrayNotifier::icon() const
{
    return m_icon->icon();
}

void TrayNotifier::notify(const QString &title, const QString &text)
{
    m_icon->showMessage(title, text, QSystemTrayIcon::Information);
}

AutoCheck::AutoCheck(MainForm &main, NotifierFactory factory)
    : QObject(&main)
    , m_main(&main)
    , m_factory(std::move(factory))
{
    if (!m_factory) {
        m_factory = [](std::function<void()> clicked) -> std::unique_ptr<Notifier> {
            if (!QSystemTrayIcon::isSystemTrayAvailable())
                return nullptr;
            return std::make_unique<TrayNotifier>(std::move(clicked));
        };
    }
    connect(&main, &MainForm::mailIndicatorClicked, this, [this] {
        if (!m_errors.isEmpty())
            QMetaObject::invokeMethod(this, &AutoCheck::showErrors, Qt::QueuedConnection);
    });
    connect(&main, &MainForm::mailIndicatorChanged, this, [this](const QString &text) {
        if (m_notifier)
            m_notifier->setStatus(text);
    });
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &AutoCheck::tick);
    m_timer.start();
}

AutoCheck::~AutoCheck()
{
    if (m_job) {
        m_job->run.cancel();
        m_job->thread->wait();
    }
}

void AutoCheck::cancel()
{
    if (m_job)
        m_job->run.cancel();
}

bool AutoCheck::busy() const
{
    return m_job || appState().mailBusy > 0 || QApplication::activeModalWidget() != nullptr;
}

void AutoCheck::tick()
{
    const int minutes = readReceiveOptions(appPaths().extraIni()).checkEveryMinutes;
    const QDateTime now = clock().now();
    if (minutes != m_minutes) {
        // Switched on, off or to another interval: the count starts afresh.
        m_minutes = minutes;
        m_due = minutes > 0 ? now.addSecs(qint64(minutes) * 60) : QDateTime();
        if (minutes > 0 && !m_notifier && m_main) {
            m_notifier = m_factory([this] { showErrors(); });
            if (m_notifier)
                m_notifier->setStatus(m_main->mailIndicator());
        } else if (minutes == 0) {
            m_notifier.reset();
        }
    }
    watchForPush();
    // A run that is due waits for the next tick while the user sends or receives.
    if (m_minutes <= 0 || !m_main || now.addSecs(kLeewaySeconds) < m_due || busy())
        return;
    m_due = now.addSecs(qint64(m_minutes) * 60);
    run();
}

void AutoCheck::watchForPush()
{
    const MailOptions options = mailOptionsInForce();
    std::optional<ReceiveInputs> inputs;
    if (m_minutes > 0 && options.imap.receiving && m_main && mailPorts().watch)
        inputs = receiveInputs(m_main->storeFaults());
    if (inputs && (inputs->id.isEmpty() || inputs->password.isEmpty()))
        inputs.reset();
    const QString watched = inputs ? QStringList{inputs->server, inputs->id, inputs->password}.join(u'\n') : QString();
    if (watched == m_pushFor)
        return;
    m_push.reset();
    m_pushFor = watched;
    if (!inputs)
        return;
    MailboxAccount account;
    account.server = inputs->server;
    account.id = inputs->id;
    account.password = inputs->password;
    // Called on the watch's thread: the check becomes due at once.
    m_push = mailPorts().watch(options, account, [this] {
        QMetaObject::invokeMethod(this, [this] {
            m_due = clock().now();
            tick();
        }, Qt::QueuedConnection);
    });
}

void AutoCheck::run()
{
    SharedSettings &settings = appState().settings;
    if (receiveServer().isEmpty())
        return;
    m_errors.clear();
    // Without a saved account the run would open the account window.
    if (!settings.accountConfirmed) {
        const IdPass saved = readIdPass(appPaths().idPassIni());
        if (saved.id.isEmpty() || saved.password.isEmpty()) {
            m_errors.append(QStringLiteral("IDとパスワードが保存されていないため、自動受信できません。"
                                           "「受信」を押してIDとパスワードを入れて下さい。"));
            m_main->setMailIndicator(errorIndicator());
            return;
        }
    }
    const std::optional<ReceiveInputs> inputs = receiveInputs(m_main->storeFaults());
    if (!inputs)
        return;
    m_job = std::make_unique<Job>(*inputs, [this](int n, int count) {
        QMetaObject::invokeMethod(this, [this, n, count] { showProgress(n, count); }, Qt::QueuedConnection);
    });
    showProgress(0, 0);
    Job *job = m_job.get();
    job->thread.reset(QThread::create([job] {
        job->result = job->run.run();
    }));
    connect(job->thread.get(), &QThread::finished, this, &AutoCheck::finishRun, Qt::QueuedConnection);
    job->thread->start();
}

void AutoCheck::showProgress(int n, int count)
{
    // Progress that comes after the run's end is stale.
    if (m_job && m_main)
        m_main->setMailIndicator(progressIndicator(n, count));
}

void AutoCheck::finishRun()
{
    if (!m_job)
        return;
    const std::unique_ptr<Job> job = std::move(m_job);
    job->thread->wait();
    // Compaction the history asked for meanwhile runs first, so that the new
    // mail is listed under the store's numbering that follows it.
    job->hold.reset();
    if (!m_main) {
        Q_EMIT runFinished();
        return;
    }
    CollectingPrompt collecting;
    showReceiveResult(*m_main, job->inputs, job->result, ReceiveFor::Background, collecting);
    m_errors = collecting.texts;

    const QStringList senders = job->observer.senders.mid(0, job->result.received);
    if (!senders.isEmpty() && m_notifier) {
        constexpr int kNamed = 3;
        QString text = QStringLiteral("新着メール %1 通").arg(senders.size());
        text += QStringLiteral("\n") + QStringList(senders.mid(0, kNamed)).join(QStringLiteral("、"));
        if (senders.size() > kNamed)
            text += QStringLiteral(" ほか");
        m_notifier->notify(appTitle(), text);
    }
    if (!m_errors.isEmpty()) {
        m_main->setMailIndicator(errorIndicator());
        if (m_notifier)
            m_notifier->notify(appTitle(), errorIndicator());
    }
    Q_EMIT runFinished();
}

void AutoCheck::showErrors()
{
    if (m_errors.isEmpty()) {
        if (m_main) {
            m_main->showNormal();
            m_main->raise();
            m_main->activateWindow();
        }
        return;
    }
    const QString text = m_errors.join(QStringLiteral("\r\n\r\n"));
    m_errors.clear();
    prompt().info(text, appTitle(), PromptIcon::Exclamation);
}

} // namespace kestra
