#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QSystemTrayIcon;

namespace kestra {

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

// The system tray icon: tooltip and notifications; a click calls `clicked`.
class TrayNotifier final : public Notifier
{
public:
    explicit TrayNotifier(std::function<void()> clicked);
    ~TrayNotifier() override;
    void setStatus(const QString &text) override;
    void notify(const QString &title, const QString &text) override;

private:
    std::unique_ptr<QSystemTrayIcon> m_icon;
};

// Receives every N minutes ([receive] checkEveryMinutes in kestra2.ini, read
// at each tick; 0, the default, never) while no sending or receiving is under
// way and no modal window is open. An automatic run shows no message box:
// its texts are collected, questions get the cautious answer (No, Cancel),
// the indicator says that something went wrong and a click on it (or on the
// tray icon) shows what. New mail is announced as "新着メール N 通" with the
// first senders. The tray icon exists only while the check is on and the
// desktop has a tray.
class AutoCheck final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTickMs = 60000;
    using NotifierFactory = std::function<std::unique_ptr<Notifier>(std::function<void()> clicked)>;

    // The usual factory makes a TrayNotifier where the desktop has a tray.
    explicit AutoCheck(MainForm &main, NotifierFactory factory = {});
    ~AutoCheck() override;

    // One look at the clock: starts a run when one is due. The timer calls it
    // every minute; tests call it after moving their clock.
    void tick();
    // Texts of the last automatic run's boxes, shown on a click.
    const QStringList &errors() const { return m_errors; }
    void showErrors();
    Notifier *notifier() const { return m_notifier.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool busy() const;
    void run();

    QPointer<MainForm> m_main;
    // The indicator, compared only: its events may come while the main window
    // is being destroyed.
    const QObject *m_indicator = nullptr;
    NotifierFactory m_factory;
    std::unique_ptr<Notifier> m_notifier;
    QTimer m_timer;
    QDateTime m_due;
    int m_minutes = 0;
    QStringList m_errors;
};

} // namespace kestra
