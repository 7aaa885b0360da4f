// Figures for the address book window with a full book (32767 entries unless
// a count is given): opening the window (list filled from the file), adding an
// entry (append + list rebuilt) and deleting row 0 (mark, compaction, list
// rebuilt). Runs offscreen in a temporary application folder.
#include "addressbook/AddressBook.h"
#include "addressbook/FriendForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/UserPrompt.h"
#include "storage/Records.h"
#include "support/FindControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

using namespace kestra;
using kestra::test::findControl;

namespace {

double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// Answers every confirmation with Yes and reports anything else.
class YesPrompt final : public UserPrompt
{
public:
    PromptAnswer message(const QString &text, const QString &, PromptIcon, PromptButtons buttons, PromptDefault) override
    {
        if (buttons != PromptButtons::YesNo)
            std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return PromptAnswer::Yes;
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return {}; }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 32766;
    QTemporaryDir dir;
    appState().appFolder = dir.path();
    if (!appPaths().ensureFolders())
        return 1;
    YesPrompt prompts;
    setPrompt(&prompts);

    {
        QFile f(addressBookPath());
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 1; i <= count; ++i)
            f.write(newAddressRecord(QStringLiteral("名前%1").arg(i), QStringLiteral("user%1@example.jp").arg(i))
                        .encode());
    }

    QElapsedTimer t;
    t.start();
    FriendForm *w = form<FriendForm>();
    const double open = ms(t);

    findControl<QLineEdit>(w, "Text2")->setText(QStringLiteral("追加"));
    findControl<QLineEdit>(w, "Text4")->setText(QStringLiteral("added@example.jp"));
    t.restart();
    findControl<QPushButton>(w, "Command4")->click();
    const double add = ms(t);
    const int rowsAfterAdd = findControl<QListWidget>(w, "List1")->count();

    findControl<QListWidget>(w, "List1")->setCurrentRow(0);
    t.restart();
    findControl<QPushButton>(w, "Command5")->click();
    const double del = ms(t);
    const int rowsAfterDelete = findControl<QListWidget>(w, "List1")->count();

    std::printf("address book entries:     %d\n", count);
    std::printf("open window (list fill):  %8.1f ms\n", open);
    std::printf("add entry + reload:       %8.1f ms (rows now %d)\n", add, rowsAfterAdd);
    std::printf("delete row 0 + compact:   %8.1f ms (rows now %d)\n", del, rowsAfterDelete);
    setPrompt(nullptr);
    return 0;
}
