#include "settings/OptionForm.h"

#include "common/AppState.h"
#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "net/ServerSecurity.h"
#include "storage/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

#include <memory>

namespace kestra {

namespace {

QLineEdit *makeBox(QWidget *parent, const char *name)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setMinimumWidth(twipsToPx(2760));
    keepSingleLine(box);
    return box;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    // The access key in the caption moves the focus to the box it names.
    label->setBuddy(buddy);
    return label;
}

// One or two controls side by side in one cell of the window's grid.
QHBoxLayout *cell(QWidget *first, QWidget *second = nullptr, int firstStretch = 0, int secondStretch = 0)
{
    auto *row = new QHBoxLayout;
    row->addWidget(first, firstStretch);
    if (second)
        row->addWidget(second, secondStretch);
    else
        row->addStretch(1);
    return row;
}

// Each choice carries its Security value.
QComboBox *makeSecurityBox(QWidget *parent, const char *name)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->addItem(QStringLiteral("STARTTLS"), int(Security::StartTls));
    box->addItem(QStringLiteral("SSL/TLS"), int(Security::Tls));
    box->addItem(QStringLiteral("なし（暗号化しない）"), int(Security::None));
    return box;
}

QLineEdit *makeNumberBox(QWidget *parent, const char *name, int smallest, int largest)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setValidator(new QIntValidator(smallest, largest, box));
    // Room for the largest number and the frame, however large the font.
    box->setFixedWidth(box->fontMetrics().horizontalAdvance(QString::number(largest) + QStringLiteral("00")));
    return box;
}

Security chosen(const QComboBox *box)
{
    return Security(box->currentData().toInt());
}

// Nothing chosen yet means STARTTLS where the server offers it, on the port
// earlier versions used: shown as a choice of its own, not as a STARTTLS that
// would be required.
void showChoice(QComboBox *box, QLineEdit *port, MailProtocol protocol, const ServerConnection &c)
{
    if (c.security == Security::Unset && box->findData(int(Security::Unset)) < 0)
        box->insertItem(0, QStringLiteral("STARTTLS（可能なら）"), int(Security::Unset));
    box->setCurrentIndex(box->findData(int(c.security)));
    port->setText(QString::number(c.port > 0 ? c.port : usualPort(protocol, c.security)));
}

// A new choice brings its usual port, unless the user typed a port of his own.
void followChoice(QComboBox *box, QLineEdit *port, MailProtocol protocol, Security &before)
{
    const Security now = chosen(box);
    const QString text = port->text();
    if (text.isEmpty() || text == QString::number(usualPort(protocol, before))
        || text == QString::number(usualPort(protocol, Security::Unset)))
        port->setText(QString::number(usualPort(protocol, now)));
    before = now;
}

// The choice and port of one server as stored. A port equal to the usual one
// is not stored, so that it follows the choice.
ServerConnection connection(bool chosenHere, const QComboBox *box, const QLineEdit *port, MailProtocol protocol)
{
    ServerConnection c;
    c.security = chosenHere ? chosen(box) : Security::Unset;
    const int typed = port->text().toInt();
    c.port = typed == usualPort(protocol, c.security) ? 0 : typed;
    return c;
}

} // namespace

OptionForm::OptionForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("OptionForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("サーバー設定"));

    SmtpText = makeBox(this, "SmtpText");
    Label1 = makeLabel(this, "Label1", QStringLiteral("SMTPサーバー名(&S)"), SmtpText);
    Pop3Text = makeBox(this, "Pop3Text");
    Label2 = makeLabel(this, "Label2", QStringLiteral("POP3サーバー名(&P)"), Pop3Text);
    MailText = makeBox(this, "MailText");
    Label3 = makeLabel(this, "Label3", QStringLiteral("メールアドレス(&M)"), MailText);
    ApopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    ApopCheck->setObjectName(QStringLiteral("ApopCheck"));
    OkCommand = new QPushButton(QStringLiteral("設定"), this);
    OkCommand->setObjectName(QStringLiteral("OkCommand"));
    CancelCommand = new QPushButton(QStringLiteral("中止"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    // Enter presses 設定 (see keyPressEvent); on a button it presses that button.
    OkCommand->setDefault(true);
    OkCommand->setAutoDefault(true);
    CancelCommand->setAutoDefault(true);

    SmtpSecurity = makeSecurityBox(this, "SmtpSecurity");
    SmtpPort = makeNumberBox(this, "SmtpPort", 1, 65535);
    SmtpSecurityLabel = makeLabel(this, "SmtpSecurityLabel", QStringLiteral("SMTPの接続の保護(&T)とポート"), SmtpSecurity);
    Pop3Security = makeSecurityBox(this, "Pop3Security");
    Pop3Port = makeNumberBox(this, "Pop3Port", 1, 65535);
    Pop3SecurityLabel = makeLabel(this, "Pop3SecurityLabel", QStringLiteral("POP3の接続の保護(&O)とポート"), Pop3Security);
    SmtpUser = new QLineEdit(this);
    SmtpUser->setObjectName(QStringLiteral("SmtpUser"));
    SmtpPass = new QLineEdit(this);
    SmtpPass->setObjectName(QStringLiteral("SmtpPass"));
    SmtpPass->setEchoMode(QLineEdit::Password);
    SmtpPass->setAttribute(Qt::WA_InputMethodEnabled, false);
    SmtpLoginLabel = makeLabel(this, "SmtpLoginLabel", QStringLiteral("SMTPのID(&I)とパスワード（空欄ならPOP3と同じ）"), SmtpUser);

    // Receiving options: the defaults (all off) receive the way the program always did.
    KeepCheck = new QCheckBox(QStringLiteral("受信したメールをサーバーに残す(&K)"), this);
    KeepCheck->setObjectName(QStringLiteral("KeepCheck"));
    DeleteDaysText = makeNumberBox(this, "DeleteDaysText", 0, kLargestDeleteAfterDays);
    DeleteDaysLabel = makeLabel(this, "DeleteDaysLabel", QStringLiteral("日後に削除（0 = 削除しない）"), DeleteDaysText);
    HistoryDeleteCheck = new QCheckBox(QStringLiteral("履歴で削除したらサーバーからも削除"), this);
    HistoryDeleteCheck->setObjectName(QStringLiteral("HistoryDeleteCheck"));
    CheckMinutesText = makeNumberBox(this, "CheckMinutesText", 0, kLargestCheckMinutes);
    CheckMinutesLabel = makeLabel(this, "CheckMinutesLabel", QStringLiteral("分ごとに自動受信（0 = しない）(&U)"), CheckMinutesText);
    DeleteDaysText->setAlignment(Qt::AlignRight);
    CheckMinutesText->setAlignment(Qt::AlignRight);
    DraftsCheck = new QCheckBox(QStringLiteral("書きかけのメールを下書きとして残す(&D)"), this);
    DraftsCheck->setObjectName(QStringLiteral("DraftsCheck"));
    connect(KeepCheck, &QCheckBox::toggled, this, [this](bool on) {
        DeleteDaysText->setEnabled(on);
        HistoryDeleteCheck->setEnabled(on);
    });
    buildImapRows();

    // Two columns, row by row: the servers and the own address on the left, how to
    // reach each server beside them, the receiving options below those. The
    // window grows with its texts and may be made larger, never so small that a
    // text is cut.
    auto *grid = new QGridLayout(this);
    grid->setHorizontalSpacing(twipsToPx(240));
    const QList<std::pair<QWidget *, QLayout *>> rows = {
        {Label1, cell(SmtpSecurityLabel)},
        {SmtpText, cell(SmtpSecurity, SmtpPort, 1)},
        {Label2, cell(Pop3SecurityLabel)},
        {Pop3Text, cell(Pop3Security, Pop3Port, 1)},
        {Label3, cell(SmtpLoginLabel)},
        {MailText, cell(SmtpUser, SmtpPass, 1, 1)},
        {ApopCheck, cell(KeepCheck)},
        {nullptr, cell(DeleteDaysText, DeleteDaysLabel, 0, 1)},
        {nullptr, cell(HistoryDeleteCheck)},
        {nullptr, cell(CheckMinutesText, CheckMinutesLabel, 0, 1)},
        {nullptr, cell(DraftsCheck)},
        {ReceiveProtocolLabel, cell(ImapLabel)},
        {ReceiveProtocol, cell(ImapText)},
        {nullptr, cell(ImapSecurityLabel)},
        {nullptr, cell(ImapSecurity, ImapPort, 1)},
    };
    int row = 0;
    for (const auto &[left, right] : rows) {
        if (left)
            grid->addWidget(left, row, 0);
        grid->addLayout(right, row++, 1);
    }
    // 設定 and 中止 side by side at the bottom of the left column.
    auto *buttons = cell(OkCommand, CancelCommand);
    buttons->addStretch(1);
    grid->addLayout(buttons, row - 1, 0);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    // The layout keeps the window from becoming smaller than its texts need.
    resize(grid->sizeHint().expandedTo(QSize(twipsToPx(kClientWidth), twipsToPx(kClientHeight))));

    // Tab order: MailText, CancelCommand, OkCommand, ApopCheck, Pop3Text, SmtpText,
    // then the connection settings.
    setTabOrder(MailText, CancelCommand);
    setTabOrder(CancelCommand, OkCommand);
    setTabOrder(OkCommand, ApopCheck);
    setTabOrder(ApopCheck, Pop3Text);
    setTabOrder(Pop3Text, SmtpText);
    setTabOrder(SmtpText, SmtpSecurity);
    setTabOrder(SmtpSecurity, SmtpPort);
    setTabOrder(SmtpPort, Pop3Security);
    setTabOrder(Pop3Security, Pop3Port);
    setTabOrder(Pop3Port, SmtpUser);
    setTabOrder(SmtpUser, SmtpPass);
    setTabOrder(SmtpPass, KeepCheck);
    setTabOrder(KeepCheck, DeleteDaysText);
    setTabOrder(DeleteDaysText, HistoryDeleteCheck);
    setTabOrder(HistoryDeleteCheck, CheckMinutesText);
    setTabOrder(CheckMinutesText, DraftsCheck);
    setTabOrder(DraftsCheck, ReceiveProtocol);
    setTabOrder(ReceiveProtocol, ImapText);
    setTabOrder(ImapText, ImapSecurity);
    setTabOrder(ImapSecurity, ImapPort);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, CancelCommand, &QPushButton::click);
    connect(OkCommand, &QPushButton::clicked, this, &OptionForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &OptionForm::CancelCommand_Click);

    centreOnScreen(this);
    Form_Load();
}

OptionForm::~OptionForm() = default;

void OptionForm::buildImapRows()
{
    ReceiveProtocol = new QComboBox(this);
    ReceiveProtocol->setObjectName(QStringLiteral("ReceiveProtocol"));
    ReceiveProtocol->addItems({QStringLiteral("POP3"), QStringLiteral("IMAP")});
    ReceiveProtocol->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    ReceiveProtocolLabel = makeLabel(this, "ReceiveProtocolLabel", QStringLiteral("受信の方式(&R)"), ReceiveProtocol);
    ImapText = makeBox(this, "ImapText");
    ImapLabel = makeLabel(this, "ImapLabel", QStringLiteral("IMAPサーバー名(&G)"), ImapText);
    ImapSecurity = makeSecurityBox(this, "ImapSecurity");
    ImapPort = makeNumberBox(this, "ImapPort", 1, 65535);
    ImapSecurityLabel = makeLabel(this, "ImapSecurityLabel", QStringLiteral("IMAPの接続の保護(&E)とポート"), ImapSecurity);
    // IMAP keeps the mail on the server (marked read); the days and the
    // history still decide when it goes.
    connect(ReceiveProtocol, &QComboBox::currentIndexChanged, this, [this](int index) {
        const bool imap = index == 1;
        if (imap)
            KeepCheck->setChecked(true);
        KeepCheck->setEnabled(!imap);
        for (QWidget *row : {static_cast<QWidget *>(ImapText), static_cast<QWidget *>(ImapSecurity), static_cast<QWidget *>(ImapPort)})
            row->setEnabled(imap);
    });
}

void OptionForm::loadImapRows(const ServerConnection &imap)
{
    m_imap = imap;
    m_imapChosen = imap.security != Security::Unset;
    ImapText->setText(imap.server);
    showChoice(ImapSecurity, ImapPort, MailProtocol::Imap, imap);
    ReceiveProtocol->setCurrentIndex(imap.receiving ? 1 : 0);
    Q_EMIT ReceiveProtocol->currentIndexChanged(ReceiveProtocol->currentIndex());
    auto before = std::make_shared<Security>(imap.security);
    connect(ImapSecurity, &QComboBox::activated, this, [this, before] {
        m_imapChosen = true;
        followChoice(ImapSecurity, ImapPort, MailProtocol::Imap, *before);
    });
}

Status OptionForm::saveImapRows(const QString &ini)
{
    ServerConnection imap = connection(m_imapChosen, ImapSecurity, ImapPort, MailProtocol::Imap);
    imap.receiving = ReceiveProtocol->currentIndex() == 1;
    imap.server = ImapText->text();
    // Nothing is written for a POP3 user who never chose IMAP.
    const bool unchanged = imap.receiving == m_imap.receiving && imap.server == m_imap.server
        && imap.security == m_imap.security && imap.port == m_imap.port;
    return unchanged ? Status() : writeServerConnection(ini, MailProtocol::Imap, imap);
}

void OptionForm::Form_Load()
{
    const SharedSettings &s = appState().settings;
    SmtpText->setText(s.smtpServer);
    Pop3Text->setText(s.pop3Server);
    MailText->setText(s.mailAddress);
    ApopCheck->setChecked(s.apop == 1);

    const QString ini = appPaths().extraIni();
    const ServerConnection smtp = readServerConnection(ini, MailProtocol::Smtp);
    const ServerConnection pop3 = readServerConnection(ini, MailProtocol::Pop3);
    m_smtpChosen = smtp.security != Security::Unset;
    m_pop3Chosen = pop3.security != Security::Unset;
    showChoice(SmtpSecurity, SmtpPort, MailProtocol::Smtp, smtp);
    showChoice(Pop3Security, Pop3Port, MailProtocol::Pop3, pop3);
    SmtpUser->setText(smtp.user);
    SmtpPass->setText(smtp.password);
    m_receive = readReceiveOptions(ini);
    KeepCheck->setChecked(m_receive.leaveOnServer);
    DeleteDaysText->setText(QString::number(m_receive.deleteAfterDays));
    HistoryDeleteCheck->setChecked(m_receive.deleteWithHistory);
    DeleteDaysText->setEnabled(m_receive.leaveOnServer);
    HistoryDeleteCheck->setEnabled(m_receive.leaveOnServer);
    CheckMinutesText->setText(QString::number(m_receive.checkEveryMinutes));
    m_keepDrafts = readKeepDrafts(ini);
    DraftsCheck->setChecked(m_keepDrafts);
    loadImapRows(readServerConnection(ini, MailProtocol::Imap));
    // Only a choice the user makes replaces "STARTTLS when offered".
    auto smtpBefore = std::make_shared<Security>(smtp.security);
    auto pop3Before = std::make_shared<Security>(pop3.security);
    connect(SmtpSecurity, &QComboBox::activated, this, [this, smtpBefore] {
        m_smtpChosen = true;
        followChoice(SmtpSecurity, SmtpPort, MailProtocol::Smtp, *smtpBefore);
    });
    connect(Pop3Security, &QComboBox::activated, this, [this, pop3Before] {
        m_pop3Chosen = true;
        followChoice(Pop3Security, Pop3Port, MailProtocol::Pop3, *pop3Before);
    });
    MailText->setFocus();
}

void OptionForm::OkCommand_Click()
{
    SharedSettings &s = appState().settings;
    s.smtpServer = SmtpText->text();
    s.pop3Server = Pop3Text->text();
    s.mailAddress = MailText->text();
    s.apop = ApopCheck->isChecked() ? 1 : 0;
    if (Status st = writeKestraIni(appPaths().kestraIni(), s); !st) {
        // The values hold for this run; the window stays so that the user can
        // try again or leave with "中止" knowing the file was not written.
        prompt().info(st.error().message(), appTitle(), PromptIcon::Exclamation);
        return;
    }
    // The connection settings go to a file of their own: kestra.ini keeps the
    // four lines that earlier versions read.
    const QString ini = appPaths().extraIni();
    ServerConnection smtp = connection(m_smtpChosen, SmtpSecurity, SmtpPort, MailProtocol::Smtp);
    smtp.user = SmtpUser->text();
    smtp.password = SmtpPass->text();
    const ServerConnection pop3 = connection(m_pop3Chosen, Pop3Security, Pop3Port, MailProtocol::Pop3);
    Status saved = writeServerConnection(ini, MailProtocol::Smtp, smtp);
    if (saved)
        saved = writeServerConnection(ini, MailProtocol::Pop3, pop3);
    if (saved)
        saved = saveImapRows(ini);
    if (!saved) {
        prompt().info(saved.error().message(), appTitle(), PromptIcon::Exclamation);
        return;
    }
    ReceiveOptions receive;
    receive.leaveOnServer = KeepCheck->isChecked();
    receive.deleteAfterDays = DeleteDaysText->text().toInt();
    receive.deleteWithHistory = HistoryDeleteCheck->isChecked();
    receive.checkEveryMinutes = CheckMinutesText->text().toInt();
    // Written only when changed, so that settings nobody touched stay out of the file.
    if (receive.leaveOnServer != m_receive.leaveOnServer || receive.deleteAfterDays != m_receive.deleteAfterDays
        || receive.deleteWithHistory != m_receive.deleteWithHistory
        || receive.checkEveryMinutes != m_receive.checkEveryMinutes) {
        if (Status st = writeReceiveOptions(ini, receive); !st) {
            prompt().info(QStringLiteral("受信の設定を %1 に保存できません。").arg(ini), appTitle(), PromptIcon::Exclamation);
            return;
        }
    }
    if (DraftsCheck->isChecked() != m_keepDrafts) {
        if (Status st = writeKeepDrafts(ini, DraftsCheck->isChecked()); !st) {
            prompt().info(QStringLiteral("下書きの設定を %1 に保存できません。").arg(ini), appTitle(), PromptIcon::Exclamation);
            return;
        }
    }
    unloadSelf(this);
}

void OptionForm::keyPressEvent(QKeyEvent *event)
{
    // Enter in a box or on a check box reaches the window: it presses 設定 the way
    // a dialog's default button takes it.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OkCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void OptionForm::CancelCommand_Click()
{
    unloadSelf(this);
}

} // namespace kestra
