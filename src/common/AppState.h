#pragma once

#include "common/Paths.h"
#include "storage/Settings.h"

#include <QString>
#include <QtGlobal>

#include <mutex>

namespace kestra {

// The program's own name, used as the title of its plain message boxes.
inline const QString &appTitle()
{
    static const QString title = QStringLiteral("Kestra");
    return title;
}

// A text the main thread sets and worker threads read as it is at that moment.
class SharedText
{
public:
    SharedText() = default;
    SharedText(const SharedText &other) : m_text(QString(other)) {}
    SharedText &operator=(const SharedText &other) { return *this = QString(other); }
    SharedText &operator=(const QString &text)
    {
        const std::scoped_lock lock(m_mutex);
        m_text = text;
        return *this;
    }
    operator QString() const
    {
        const std::scoped_lock lock(m_mutex);
        return m_text;
    }

private:
    mutable std::mutex m_mutex;
    QString m_text;
};

// Program-wide state: one instance, owned by the process. Windows read and
// write it directly, the way the windows of this program share their values.
struct AppState {
    QString appFolder;       // folder that holds kestra.ini, the data and attachment folders
    SharedSettings settings;
    qint16 historyMode = 1;  // 1 = received store, 2 = sent store
    qint16 currentRecord = 0;
    QString editorFile;      // the history editor's current file
    bool editorModified = false;
    int boldCount = 0;       // editor style toggles, kept across unloads of the history window
    int italicCount = 0;
    int underlineCount = 0;
    SharedText clockText;    // the main window's clock text (its hidden Text2); a bulk send reads it per mail
    int mailBusy = 0;        // sending and receiving runs under way (MailBusy)
};

AppState &appState();

// Paths below the application folder of the program-wide state.
AppPaths appPaths();

// Marks a sending or receiving run as under way for its lifetime, so that
// the automatic check waits for it to end.
class MailBusy
{
public:
    MailBusy();
    ~MailBusy();
    MailBusy(const MailBusy &) = delete;
    MailBusy &operator=(const MailBusy &) = delete;
};

// Restores the state to what the program starts with (tests use it between cases).
void resetAppState();

} // namespace kestra
