#pragma once

#include "common/Result.h"
#include "storage/StoreFaults.h"

#include <QUrl>
#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QToolBar;
class QAction;

namespace kestra {

class WebPane;

// The main window: browser pane with toolbar and address bar, the button column
// that opens every other window and starts receiving, the new-mail indicator,
// the hover-help box and the hidden clock text. Closing it ends the program.
//
// Controls:
//   tbToolBar   navigation toolbar (Back, Forward, Stop, Refresh, Home, Search)
//   picAddress  address bar: lblAddress "URL", Command2 add favourite,
//               Command9 delete favourite, Command13 paste, cboAddress
//   Picture1    left panel: Frame1 (Command3 新規作成, Command4 受信, Command6 着信履歴,
//               Command7 送信履歴, Command5 アドレス帳, Command8 設定, Command12 HP),
//               Frame2 (Label2 "OutoLook", Command1 登録: capture a copied address),
//               Text3 new-mail indicator
//   brwWebBrowser  browser pane; created at its first page, an empty area until
//               then; fills the window right of the button column and below the
//               address bar
//   picFind     find in page (Ctrl+F), picDownload download progress with "中止":
//               below the pane while shown
//   Text1       hover help and status box
//   Text2       hidden clock text (also scratch); Text4 hidden clipboard scratch
//   Command10   hidden: reloads the favourites
//   Timer1      one-second clock; timTimer 5 ms browser busy watch
class MainForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainForm)

public:
    static constexpr int kDesignWidth = 6570;  // client area in twips
    static constexpr int kDesignHeight = 5745;
    // The narrowest client area that still shows the address bar's keys whole;
    // no lower than the design height, which the button column and indicator fill.
    static constexpr int kMinimumWidth = 5400;
    // Where the browser pane starts: right of the button column, below the address bar.
    static constexpr int kPaneLeft = 1560;
    static constexpr int kPaneTop = 1200;

    explicit MainForm(QWidget *parent = nullptr);
    ~MainForm() override;

    static QString caption();

    // Start-up steps after construction: favourites, settings, mail library,
    // server settings window when no POP3 server is set. The hidden compose
    // window follows once the window has been painted; then startupFinished()
    // is emitted. The browser pane waits for its first page.
    void Form_Load();
    // Layout rules for a client area of the current size.
    void Form_Resize();

    void Timer1_Timer();
    void Command1_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();
    void Command10_Click(); // reload the favourites
    void Command12_Click(); // the program's home page in the system's browser

    // Browser pane and favourites.
    void tbToolBar_ButtonClick(QAction *button); // by the button's key (objectName)
    void cboAddress_Click();              // an entry chosen: navigate to the address
    void cboAddress_KeyPress(int keyAscii); // 13 (Enter) navigates like choosing
    void timTimer_Timer();                // busy watch: caption while loading, then the title
    void Command2_Click();  // add the address to the favourites
    void Command9_Click();  // delete the selected favourite
    void Command13_Click(); // paste the clipboard into the address
    // Whether the pane counts as loading (what the busy watch looks at).
    bool paneBusy() const;
    // The browser pane, created on first use: the pane starts empty, and the web
    // engine behind it takes longer to load and start than the rest of the
    // program together. Null when the engine cannot be loaded; the status box
    // then says why.
    WebPane *browserPane();

    // Tells the user in the status box that web pages run without the engine's
    // sandbox (the program was started as root); shown when the engine starts.
    void showSandboxNotice();

    // Hover help for the control under the mouse.
    void hoverOver(QWidget *control);

    // The status box (Text1): shows `text` in place of what it held.
    void showStatus(const QString &text);
    QString status() const;
    // The new-mail indicator (Text3), "新着メール有り。" and the like.
    void setMailIndicator(const QString &text);
    QString mailIndicator() const;

Q_SIGNALS:
    // The indicator's text changed (also when set by setMailIndicator).
    void mailIndicatorChanged(const QString &text);
    // The user clicked the indicator.
    void mailIndicatorClicked();
    // The window has been painted and the rest of start-up is done: what would
    // only hold up the first paint (such as offering drafts back) runs from here.
    void startupFinished();

public:
    // Faults for the store of the receive runs this window starts (none: the real
    // disk). Only tests set them; they go when the store takes a disk interface.
    void setStoreFaults(StoreFaults faults) { m_storeFaults = std::move(faults); }
    const StoreFaults &storeFaults() const { return m_storeFaults; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    // The window is never made so small that a control or text is cut: the
    // address bar's keys, the button column and, once the pane exists, its find bar.
    void updateMinimumSize();
    void finishStartup(); // after the first paint: the hidden compose window, startupFinished()
    void showStorageError(const Error &error);
    void setUpBrowserPane();
    void setUpBrowserKeys(); // Alt+arrows, F5, Esc, Ctrl+L, Ctrl+F, zoom
    void layoutBrowserPane();
    void navigatePane(const QUrl &url, bool httpsGuessed = false); // also starts the busy watch
    void showPaneTitle();
    void showRefusedAddress(const QString &address);
    void paneUrlChanged(const QUrl &url);
    void zoomPane(int step); // one step in (1) or out (-1), or back to 100 % (0); remembered
    int selectedFavourite() const;

    WebPane *m_pane = nullptr;       // the browser pane once created (a child of this window)
    QWidget *m_emptyPane = nullptr;  // the pane's area until then
    bool m_startupAfterFirstPaint = false; // set by Form_Load, cleared once the rest is scheduled
    StoreFaults m_storeFaults;

public:
private:
    // Controls, by their fixed names (the table above).
    QLineEdit *Text3 = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QToolBar *tbToolBar = nullptr;
    QWidget *picAddress = nullptr;
    QLabel *lblAddress = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command13 = nullptr;
    QComboBox *cboAddress = nullptr;
    QWidget *Picture1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command6 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command8 = nullptr;
    QPushButton *Command12 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *Command1 = nullptr;
    QLineEdit *Text4 = nullptr;
    QPushButton *Command10 = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *timTimer = nullptr;
};

// Help texts of the main window's controls, by control name; empty for none.
QString mainHelpText(const QString &controlName);

} // namespace kestra
