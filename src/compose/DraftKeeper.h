#pragma once

#include "storage/Drafts.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QWidget;

namespace kestra {

// Keeps the draft of one compose or reply window in the drafts file, under a
// key of its own (two windows never write over each other's draft): every
// interval and when the window is hidden or closed, whenever the fields differ
// from what is already kept. Fields equal to the baseline (what the window
// shows before the user writes anything) are no draft: the kept one is removed.
class DraftKeeper final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 30000;

    // `kind` names the window's kind in the drafts file ("WriteForm").
    DraftKeeper(QWidget *window, QString kind, std::function<Draft()> fields);

    // Writes the fields now unless they are what is already kept; false when
    // the write failed. A failure is told in a box once, until a save works
    // again (not at every try); the window goes on, and the next save tries again.
    bool save();
    // Whether the window holds something written (fields other than the baseline).
    bool hasText() const;
    // Asked before the user closes the window: with drafts on and text in the
    // window, 保存 keeps the draft, 破棄 removes it, キャンセル keeps the window.
    // True when the window may close.
    bool confirmClose();
    // The window now shows the kept draft `key` (opened from the drafts file):
    // its changes go to that draft.
    void adopt(const QString &key, const Draft &draft);
    // The window starts another mail: what it holds stays kept under the
    // present key, and the new mail gets a key of its own.
    void startNew();
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
    QString m_kind;
    QString m_name; // the key in the drafts file
    std::function<Draft()> m_fields;
    Draft m_baseline;
    Draft m_kept; // what the drafts file holds for this window
    QTimer m_timer;
    bool m_failureTold = false;
};

// At start-up, with drafts left behind by a crash, a kill, a quit or a close
// without sending: asks which one to open, in the window of its kind. The
// others stay in the file and are offered again by newMailOrDraft().
void offerDraftRestore();

// "新規作成": with drafts waiting, asks which one to open or a new mail;
// then shows the window. A compose window already on the screen comes to the front.
void newMailOrDraft();

} // namespace kestra
