// Nothing cut off: every caption of the main window, the server settings window
// and the original view fits its control, and every control its window, at the
// window's default and smallest size, with the usual font and one 125 % larger.

#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "reader/OriginalForm.h"
#include "settings/OptionForm.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableWidget>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;

namespace {

// The caption of a text control (access-key marks taken out), or a null text.
QString captionOf(const QWidget *w, bool *wraps)
{
    QString text;
    *wraps = false;
    if (const auto *label = qobject_cast<const QLabel *>(w)) {
        text = label->text();
        *wraps = label->wordWrap();
    } else if (qobject_cast<const QPushButton *>(w) || qobject_cast<const QCheckBox *>(w)
               || qobject_cast<const QRadioButton *>(w)) {
        text = static_cast<const QAbstractButton *>(w)->text();
    }
    return text.remove(QLatin1Char('&'));
}

// The controls of `window` whose caption is cut, or that stand out of the window.
QStringList cutControls(QWidget *window)
{
    QStringList cut;
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        bool wraps = false;
        const QString text = captionOf(w, &wraps);
        if (text.isEmpty() || !w->isVisibleTo(window))
            continue;
        const QString name = w->objectName() + QLatin1Char(' ') + text;
        if (!window->rect().contains(QRect(w->mapTo(window, QPoint(0, 0)), w->size())))
            cut << QStringLiteral("outside the window: ") + name;
        QRect room = w->contentsRect();
        // A check box's text starts right of its box.
        if (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w))
            room.setLeft(room.left() + w->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w)
                         + w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w));
        const QFontMetrics metrics(w->font());
        const bool fits = wraps ? metrics.boundingRect(QRect(0, 0, room.width(), 1 << 20), Qt::TextWordWrap, text)
                                          .height() <= room.height()
                                : metrics.horizontalAdvance(text) <= room.width();
        if (!fits)
            cut << QStringLiteral("text cut: ") + name;
    }
    return cut;
}

// Checks `window` at its default size, then at its smallest.
void checkNothingCut(QWidget *window)
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCoreApplication::processEvents();
    const QStringList atDefault = cutControls(window);
    QVERIFY2(atDefault.isEmpty(), qPrintable(atDefault.join(QLatin1Char('\n'))));
    QVERIFY(!window->minimumSize().isEmpty());
    window->resize(window->minimumSize());
    QCoreApplication::processEvents();
    QCOMPARE(window->size(), window->minimumSize());
    const QStringList atSmallest = cutControls(window);
    QVERIFY2(atSmallest.isEmpty(), qPrintable(atSmallest.join(QLatin1Char('\n'))));
}

QByteArray mailWithAttachments()
{
    QByteArray mail = "From: a@example.jp\r\nTo: b@example.jp\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                      "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nfiles\r\n";
    for (const char *name : {"invoice.desktop-2026-12-quarterly-statement.pdf", "a.txt", "b.txt", "c.txt", "d.txt"})
        mail += QByteArray("--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; "
                           "filename=\"")
                + name + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\nAAAA\r\n";
    return mail + "--b--\r\n";
}

} // namespace

class LayoutTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_font = QApplication::font();
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
    }
    void cleanup()
    {
        test::closeAllWindows();
        QApplication::setFont(m_font);
        QCOMPARE(m_prompt->unexpected(), 0);
        m_prompt.reset();
        m_folder.reset();
    }

    void windowsFitTheirTexts_data()
    {
        QTest::addColumn<double>("fontScale");
        QTest::newRow("usual font") << 1.0;
        QTest::newRow("font 125 %") << 1.25;
    }
    void windowsFitTheirTexts()
    {
        scaleFont();

        checkNothingCut(form<OptionForm>());

        MainForm main;
        checkNothingCut(&main);

        OriginalForm *original = form<OriginalForm>();
        original->showOriginal(mailWithAttachments());
        checkNothingCut(original);
    }

    // The indicator shows its usual texts whole; a long error keeps its start
    // and end and shows whole as a tooltip.
    void indicatorTextsAreReadable_data() { windowsFitTheirTexts_data(); }
    void indicatorTextsAreReadable()
    {
        scaleFont();
        MainForm main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        auto *indicator = findControl<QLineEdit>(&main, "Text3");
        for (const QSize size : {main.size(), main.minimumSize()}) {
            main.resize(size);
            for (const char16_t *text : {u"新着メール有り。", u"新着メール無し。", u"受信できませんでした。"}) {
                main.setMailIndicator(QString::fromUtf16(text));
                QVERIFY2(indicator->toolTip().isEmpty(), qPrintable(indicator->toolTip()));
            }
            const QString error = QStringLiteral("自動受信でエラーがありました。（クリックで表示）");
            main.setMailIndicator(error);
            QCOMPARE(indicator->toolTip(), error);
            QCOMPARE(main.mailIndicator(), error);
        }
    }

    // The attachment table shows four rows; a name too long for its column is
    // whole in its tooltip.
    void attachmentTableShowsFourRows_data() { windowsFitTheirTexts_data(); }
    void attachmentTableShowsFourRows()
    {
        scaleFont();
        OriginalForm *original = form<OriginalForm>();
        original->showOriginal(mailWithAttachments());
        original->show();
        QVERIFY(QTest::qWaitForWindowExposed(original));
        original->resize(original->minimumSize());
        QCoreApplication::processEvents();
        auto *grid = findControl<QTableWidget>(original, "Grid1");
        QCOMPARE(grid->rowCount(), 5);
        QVERIFY2(grid->viewport()->height() >= 4 * grid->rowHeight(0),
                 qPrintable(QStringLiteral("%1 px for rows of %2 px").arg(grid->viewport()->height()).arg(grid->rowHeight(0))));
        const QString name = QStringLiteral("invoice.desktop-2026-12-quarterly-statement.pdf");
        QCOMPARE(grid->item(0, 0)->text(), name);
        QCOMPARE(grid->item(0, 0)->toolTip(), name);
        // The name takes what the type and size leave.
        QVERIFY(grid->columnWidth(0) > grid->columnWidth(1));
    }

private:
    // Makes the application's font as much larger as the test row asks.
    void scaleFont()
    {
        QFETCH(double, fontScale);
        QFont larger = m_font;
        larger.setPointSizeF(m_font.pointSizeF() * fontScale);
        QApplication::setFont(larger);
    }

    QFont m_font;
    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
};

QTEST_MAIN(LayoutTest)
#include "tst_layout.moc"
