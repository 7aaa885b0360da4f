#include "support/TestSupport.h"

#include "common/AppState.h"
#include "common/Paths.h"
#include "storage/StoreBuffers.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QPointer>
#include <QWidget>
#include <QtTest>

namespace kestra::test {

FakePrompt::FakePrompt()
{
    setPrompt(this);
}

FakePrompt::~FakePrompt()
{
    setPrompt(nullptr);
}

PromptAnswer FakePrompt::message(const QString &text, const QString &title, PromptIcon icon,
                                 PromptButtons buttons, PromptDefault byDefault)
{
    m_shown.append({ShownPrompt::Kind::Message, text, title, icon, buttons, byDefault, {}});
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    if (m_auto)
        return buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    if (buttons != PromptButtons::Ok) {
        ++m_unexpected;
        qWarning("unexpected dialog: %s", qPrintable(text));
    }
    return buttons == PromptButtons::YesNo ? PromptAnswer::No
                                           : buttons == PromptButtons::OkCancel ? PromptAnswer::Cancel
                                                                                : PromptAnswer::Ok;
}

QString FakePrompt::openFileName(const QString &caption, const QString &, const QString &)
{
    m_shown.append({ShownPrompt::Kind::OpenFile, caption, {}, PromptIcon::None, PromptButtons::Ok, PromptDefault::Affirmative, {}});
    if (!m_files.isEmpty())
        return m_files.takeFirst();
    ++m_unexpected;
    return {};
}

QString FakePrompt::saveFileName(const QString &caption, const QString &, const QString &)
{
    m_shown.append({ShownPrompt::Kind::SaveFile, caption, {}, PromptIcon::None, PromptButtons::Ok, PromptDefault::Affirmative, {}});
    if (!m_files.isEmpty())
        return m_files.takeFirst();
    ++m_unexpected;
    return {};
}

SaveAnswer FakePrompt::askSave(const QString &text, const QString &title)
{
    m_shown.append({ShownPrompt::Kind::SaveQuestion, text, title, PromptIcon::Question, PromptButtons::Ok, PromptDefault::Affirmative, {}});
    if (!m_saveAnswers.isEmpty())
        return m_saveAnswers.takeFirst();
    ++m_unexpected;
    qWarning("unexpected save question: %s", qPrintable(text));
    return SaveAnswer::Cancel;
}

int FakePrompt::choose(const QString &text, const QString &title, const QStringList &items)
{
    m_shown.append({ShownPrompt::Kind::Choice, text, title, PromptIcon::None, PromptButtons::Ok, PromptDefault::Affirmative, items});
    if (!m_choices.isEmpty())
        return m_choices.takeFirst();
    ++m_unexpected;
    qWarning("unexpected choice: %s", qPrintable(text));
    return -1;
}

RealBoxKey::RealBoxKey(Qt::Key key)
    : m_poll(new QTimer)
{
    QObject::connect(m_poll, &QTimer::timeout, m_poll, [this, key] {
        QWidget *box = QApplication::activeModalWidget();
        QWidget *focus = QApplication::focusWidget();
        if (seen || !box)
            return;
        if (!focus || focus->window() != box) {
            // A box that stays without the focus: on a loaded machine the
            // platform can leave the activation with the window that had it.
            // After half a second it is activated, as a window manager would;
            // after ten it is closed, so that the test fails instead of hanging.
            m_unfocusedPolls = box == m_unfocused ? m_unfocusedPolls + 1 : 0;
            m_unfocused = box;
            if (m_unfocusedPolls == 50)
                box->activateWindow();
            else if (m_unfocusedPolls == 1000)
                box->close();
            return;
        }
        seen = true;
        parent = box->parentWidget();
        transient = box->windowHandle() ? box->windowHandle()->transientParent() : nullptr;
        if (auto *message = qobject_cast<QMessageBox *>(box)) {
            defaultButton = message->standardButton(message->defaultButton());
            escapeButton = message->standardButton(message->escapeButton());
        } else if (auto *buttons = box->findChild<QDialogButtonBox *>()) {
            for (QAbstractButton *b : buttons->buttons()) {
                if (auto *push = qobject_cast<QPushButton *>(b); push && push->isDefault())
                    defaultButton = buttons->standardButton(push);
            }
        }
        QTest::keyClick(focus, key);
    });
    m_poll->start(10);
}

RealBoxKey::~RealBoxKey()
{
    delete m_poll;
}

QStringList FakePrompt::texts() const
{
    QStringList out;
    for (const ShownPrompt &p : m_shown)
        out.append(p.text);
    return out;
}

RecordingDesktop::RecordingDesktop()
{
    setDesktopServices(this);
}

RecordingDesktop::~RecordingDesktop()
{
    setDesktopServices(nullptr);
}

FixedClock::FixedClock(QDateTime when)
    : m_now(std::move(when))
{
    setClock(this);
}

FixedClock::~FixedClock()
{
    setClock(nullptr);
}

TempAppFolder::TempAppFolder()
{
    QStandardPaths::setTestModeEnabled(true);
    resetAppState();
    resetStoreBuffers();
    appState().appFolder = m_dir.path();
    if (const Status made = appPaths().ensureFolders(); !made)
        qFatal("cannot prepare the test folder: %s", qPrintable(made.error().message()));
}

TempAppFolder::~TempAppFolder()
{
    resetAppState();
    resetStoreBuffers();
}

QString TempAppFolder::dataFile(const QString &name) const
{
    return appPaths().dataFile(name);
}

QPoint centreIn(QWidget *control)
{
    return control->mapTo(control->window(), control->rect().center());
}

void pointAt(QWidget *control)
{
    QTest::mouseMove(control->window(), centreIn(control));
}

void clickAt(QWidget *window, QPoint pos)
{
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, pos);
}

void clickOn(QWidget *control)
{
    clickAt(control->window(), centreIn(control));
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void closeAllWindows()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget *w : QApplication::topLevelWidgets())
        windows.append(w);
    for (const QPointer<QWidget> &w : windows)
        if (w && !w->parentWidget())
            delete w.data();
}

void typeText(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QWidget *target = QApplication::focusWidget();
        if (!target)
            return;
        QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
        i += n - 1;
    }
}

} // namespace kestra::test
