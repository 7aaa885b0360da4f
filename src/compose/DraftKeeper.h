#pragma once

#include "storage/Drafts.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QWidget;

namespace kestra {

// Keeps the draft of one compose or reply window in the drafts file: every
// interval and when the window is hidden or closed, whenever the fields differ
// from what is already kept. Fields equal to the baseline (what the window
// shows before the user writes anything) are no draft: the kept one is removed.
class DraftKeeper final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 30000;

    DraftKeeper(QWidget *window, QString name, std::function<Draft()> fields);

    // Writes the fields now unless they are what is already kept. A failure
    // is told in a box once, until a save works again (not at every try);
    // the window goes on, and the next save tries again.
    void save();
    // The mail went out or the user threw it away: the kept draft goes, and
    // the fields as they are now count as nothing to keep.
    void discard();
    // The fields as they are now are what the window shows before anything is
    // written (a new reply's quoted mail): nothing to keep.
    void setBaseline();
    // No more saving: the window is being destroyed.
    void stop();
    // Time between two saves, kIntervalMs unless changed here; the wait starts again.
    void setInterval(int ms) { m_timer.setInterval(ms); }

    const QString &name() const { return m_name; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_window;
    QString m_name;
    std::function<Draft()> m_fields;
    Draft m_baseline;
    Draft m_kept; // what the drafts file holds for this window
    QTimer m_timer;
    bool m_failureTold = false;
};

// At start-up: for each window whose draft was left behind by a crash, a kill
// or a close without sending, asks "下書きを復元しますか？". Yes opens the window
// with the kept fields; No removes the draft.
void offerDraftRestore();

} // namespace kestra
