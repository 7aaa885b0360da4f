#pragma once

#include <QDateTime>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QSystemTrayIcon;

namespace kestra {

class MailboxWatch;
class MainForm;

// Where an automatic check reports to the desktop.
class Notifier
{
public:
    virtual ~Notifier() = default;
    // The indicator text, kept up to date (the tray icon's tooltip).
    virtual void setStatus(const QString &text) = 0;
    // A desktop notification that goes away by itself.
    virtual void notify(const QString &title, const QString &text) = 0;
};

// The system tray icon: the program's icon (marked while new mail waits),
// tooltip and notifications; a click calls `clicked`.
class TrayNotifier final : public Notifier
{
public:
    explicit TrayNotifier(std::function<void()> clicked);
    ~TrayNotifier() override;
    void setStatus(const QString &text) override;
    void notify(const QString &title, const QString &text) override;
    QIcon icon() const;

private:
    std::unique_ptr<QSystemTrayIcon> m_icon;
};

// Receives every N minutes ([receive] checkEveryMinutes in kestra2.ini, read
// at each tick; 0, the default, never), counted from the start of the last
// run, while no sending or receiving is under way and no modal window is open.
//
// An automatic run works beside whatever the user is doing: it runs on a
// worker thread with no dialog, never raises, activates or fills a window
// and never takes the focus. Its progress shows in the indicator (and so in
// the tray's tooltip). It shows no message box: its texts are collected,
// questions are not asked (and no answer is remembered: the next 受信 by hand
// asks), the indicator says that something went wrong and a click on it (or
// on the tray icon) shows what. An open history window gets the new mail
// listed below what it shows. New mail is announced as "新着メール N 通" with
// the first senders. The tray icon exists only while the check is on and the
// desktop has a tray. An IMAP account is also watched (push, see ImapPush)
// while the check is on: new mail makes the check due at once.
class AutoCheck final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTickMs = 15000;
    // A tick this close before the due time counts as on time: timers fire a
    // little early as often as late, and "every N minutes" must mean N.
    static constexpr int kLeewaySeconds = 5;
    using NotifierFactory = std::function<std::unique_ptr<Notifier>(std::function<void()> clicked)>;

    // The usual factory makes a TrayNotifier where the desktop has a tray.
    explicit AutoCheck(MainForm &main, NotifierFactory factory = {});
    // A run still under way is stopped and waited for.
    ~AutoCheck() override;

    // One look at the clock: starts a run when one is due. The timer calls it
    // every few seconds; tests call it after moving their clock.
    void tick();
    // Whether a run is under way, and stopping it (it ends soon after).
    bool running() const { return m_job != nullptr; }
    void cancel();
    // Texts of the last automatic run's boxes, shown on a click.
    const QStringList &errors() const { return m_errors; }
    void showErrors();
    Notifier *notifier() const { return m_notifier.get(); }

Q_SIGNALS:
    // A run has ended and its outcome is in the windows.
    void runFinished();

private:
    struct Job;
    bool busy() const;
    void run();
    void finishRun();
    void showProgress(int n, int count);
    // Starts, restarts or stops the push watch as the settings in force ask.
    void watchForPush();

    QPointer<MainForm> m_main;
    NotifierFactory m_factory;
    std::unique_ptr<Notifier> m_notifier;
    QTimer m_timer;
    QDateTime m_due;
    int m_minutes = 0;
    QStringList m_errors;
    std::unique_ptr<Job> m_job;
    std::unique_ptr<MailboxWatch> m_push;
    QString m_pushFor; // the server and account it watches
};

} // namespace kestra
