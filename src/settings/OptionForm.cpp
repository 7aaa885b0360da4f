#include "settings/OptionForm.h"

#include "common/AppState.h"
#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "net/ServerSecurity.h"
#include "common/FormPlacement.h"
#include "storage/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QIntValidator>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>
#include <memory>

namespace kestra {

namespace {

QLineEdit *makeBox(QWidget *parent, const char *name, int top)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    setGeometryTwips(box, 120, top, 2760, 300);
    keepSingleLine(box);
    return box;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int top, QWidget *buddy)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    setGeometryTwips(label, 120, top, 2760, 255);
    // The access key in the caption moves the focus to the box below.
    label->setBuddy(buddy);
    return label;
}

// The choices in the order of the boxes.
constexpr Security kChoices[] = {Security::StartTls, Security::Tls, Security::None};

QComboBox *makeSecurityBox(QWidget *parent, const char *name, int top)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->addItems({QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS"), QStringLiteral("なし（暗号化しない）")});
    setGeometryTwips(box, 3120, top, 1800, 300);
    return box;
}

QLineEdit *makePortBox(QWidget *parent, const char *name, int top)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setValidator(new QIntValidator(1, 65535, box));
    setGeometryTwips(box, 5040, top, 960, 300);
    return box;
}

Security chosen(const QComboBox *box)
{
    return kChoices[qBound(0, box->currentIndex(), 2)];
}

void showChoice(QComboBox *box, QLineEdit *port, MailProtocol protocol, const ServerConnection &c)
{
    const Security shown = c.security == Security::Unset ? Security::StartTls : c.security;
    box->setCurrentIndex(int(std::find(std::begin(kChoices), std::end(kChoices), shown) - std::begin(kChoices)));
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
    setClientSizeTwips(this, kClientWidth, kClientHeight);

    SmtpText = makeBox(this, "SmtpText", 375);
    Label1 = makeLabel(this, "Label1", QStringLiteral("SMTPサーバー名(&S)"), 120, SmtpText);
    Pop3Text = makeBox(this, "Pop3Text", 1020);
    Label2 = makeLabel(this, "Label2", QStringLiteral("POP3サーバー名(&P)"), 765, Pop3Text);
    MailText = makeBox(this, "MailText", 1665);
    Label3 = makeLabel(this, "Label3", QStringLiteral("メールアドレス(&M)"), 1410, MailText);

    ApopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    ApopCheck->setObjectName(QStringLiteral("ApopCheck"));
    setGeometryTwips(ApopCheck, 120, 2070, 2760, 300);

    OkCommand = new QPushButton(QStringLiteral("設定"), this);
    OkCommand->setObjectName(QStringLiteral("OkCommand"));
    setGeometryTwips(OkCommand, 240, 2520, 1200, 375);
    CancelCommand = new QPushButton(QStringLiteral("中止"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    setGeometryTwips(CancelCommand, 1560, 2520, 1200, 375);

    SmtpSecurity = makeSecurityBox(this, "SmtpSecurity", 375);
    SmtpPort = makePortBox(this, "SmtpPort", 375);
    SmtpSecurityLabel = makeLabel(this, "SmtpSecurityLabel", QStringLiteral("SMTPの接続の保護(&T)とポート"), 120, SmtpSecurity);
    Pop3Security = makeSecurityBox(this, "Pop3Security", 1020);
    Pop3Port = makePortBox(this, "Pop3Port", 1020);
    Pop3SecurityLabel = makeLabel(this, "Pop3SecurityLabel", QStringLiteral("POP3の接続の保護(&O)とポート"), 765, Pop3Security);
    SmtpUser = new QLineEdit(this);
    SmtpUser->setObjectName(QStringLiteral("SmtpUser"));
    setGeometryTwips(SmtpUser, 3120, 1665, 1380, 300);
    SmtpPass = new QLineEdit(this);
    SmtpPass->setObjectName(QStringLiteral("SmtpPass"));
    SmtpPass->setEchoMode(QLineEdit::Password);
    SmtpPass->setAttribute(Qt::WA_InputMethodEnabled, false);
    setGeometryTwips(SmtpPass, 4620, 1665, 1380, 300);
    SmtpLoginLabel = makeLabel(this, "SmtpLoginLabel", QStringLiteral("SMTPのID(&I)とパスワード（空欄ならPOP3と同じ）"), 1410, SmtpUser);
    // The second column's labels stand above their boxes like the first's.
    setGeometryTwips(SmtpSecurityLabel, 3120, 120, 2880, 255);
    setGeometryTwips(Pop3SecurityLabel, 3120, 765, 2880, 255);
    setGeometryTwips(SmtpLoginLabel, 3120, 1410, 2880, 255);

    // Receiving options: the defaults (all off) receive the way the program always did.
    const auto numberBox = [this](const char *name, int top, int largest) {
        auto *box = new QLineEdit(this);
        box->setObjectName(QLatin1String(name));
        box->setValidator(new QIntValidator(0, largest, box));
        box->setAlignment(Qt::AlignRight);
        setGeometryTwips(box, 3120, top, 600, 300);
        return box;
    };
    const auto numberLabel = [this](const char *name, const QString &text, int top, QWidget *buddy) {
        auto *label = new QLabel(text, this);
        label->setObjectName(QLatin1String(name));
        label->setBuddy(buddy);
        setGeometryTwips(label, 3780, top, 2280, 300);
        return label;
    };
    KeepCheck = new QCheckBox(QStringLiteral("受信したメールをサーバーに残す(&K)"), this);
    KeepCheck->setObjectName(QStringLiteral("KeepCheck"));
    setGeometryTwips(KeepCheck, 3120, 2070, 2940, 300);
    DeleteDaysText = numberBox("DeleteDaysText", 2400, kLargestDeleteAfterDays);
    DeleteDaysLabel = numberLabel("DeleteDaysLabel", QStringLiteral("日後に削除（0 = 削除しない）"), 2400, DeleteDaysText);
    HistoryDeleteCheck = new QCheckBox(QStringLiteral("履歴で削除したらサーバーからも削除"), this);
    HistoryDeleteCheck->setObjectName(QStringLiteral("HistoryDeleteCheck"));
    setGeometryTwips(HistoryDeleteCheck, 3120, 2730, 2940, 300);
    CheckMinutesText = numberBox("CheckMinutesText", 3060, kLargestCheckMinutes);
    CheckMinutesLabel = numberLabel("CheckMinutesLabel", QStringLiteral("分ごとに自動受信（0 = しない）(&U)"), 3060,
                                    CheckMinutesText);
    DraftsCheck = new QCheckBox(QStringLiteral("書きかけのメールを下書きとして残す(&D)"), this);
    DraftsCheck->setObjectName(QStringLiteral("DraftsCheck"));
    setGeometryTwips(DraftsCheck, 3120, 3390, 2940, 300);
    connect(KeepCheck, &QCheckBox::toggled, this, [this](bool on) {
        DeleteDaysText->setEnabled(on);
        HistoryDeleteCheck->setEnabled(on);
    });
    buildImapRows();

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
    constexpr int kLabelTop = 3780;
    constexpr int kBoxTop = 4035;
    ReceiveProtocol = new QComboBox(this);
    ReceiveProtocol->setObjectName(QStringLiteral("ReceiveProtocol"));
    ReceiveProtocol->addItems({QStringLiteral("POP3"), QStringLiteral("IMAP")});
    setGeometryTwips(ReceiveProtocol, 120, kBoxTop, 1200, 300);
    ReceiveProtocolLabel = makeLabel(this, "ReceiveProtocolLabel", QStringLiteral("受信の方式(&R)"), kLabelTop, ReceiveProtocol);
    setGeometryTwips(ReceiveProtocolLabel, 120, kLabelTop, 1200, 255);
    ImapText = makeBox(this, "ImapText", kBoxTop);
    setGeometryTwips(ImapText, 1440, kBoxTop, 1440, 300);
    ImapLabel = makeLabel(this, "ImapLabel", QStringLiteral("IMAPサーバー名(&G)"), kLabelTop, ImapText);
    setGeometryTwips(ImapLabel, 1440, kLabelTop, 1560, 255);
    ImapSecurity = makeSecurityBox(this, "ImapSecurity", kBoxTop);
    ImapPort = makePortBox(this, "ImapPort", kBoxTop);
    ImapSecurityLabel = makeLabel(this, "ImapSecurityLabel", QStringLiteral("IMAPの接続の保護(&E)とポート"), kLabelTop, ImapSecurity);
    setGeometryTwips(ImapSecurityLabel, 3120, kLabelTop, 2880, 255);
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

void OptionForm::CancelCommand_Click()
{
    unloadSelf(this);
}

} // namespace kestra
