#pragma once

#include "storage/StoreFaults.h"

#include <QList>
#include <QRect>
#include <QWidget>

class QFontMetrics;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace kestra {

// The address book window ("アドレス帳"): lists the entries of Kstdata20.data,
// adds one from the two boxes and deletes the selected one after asking. The
// list is rebuilt from the file after every change; the window keeps no other
// copy. Another window may hand it an address (showAddress) before showing it.
//
// Controls:
//   Label1 "メールアドレス" / Text4   address, at most 60 characters
//   Command1 "貼付"                   paste the clipboard into Text4
//   Label2 "名前" / Text2             name, at most 30 characters
//   Command3 "ホーム"                 close the window
//   Command4 "登録"                   add an entry
//   Command5 "削除"                   delete the selected entry
//   Label3 "登録件数" / Text3         number of entries (read only)
//   List1                             one row per record, in file order
//   Label7                            status strip at the bottom
//   Command2 (outside the client area, with Label8 "※重要削除するな！！")
//                                     reloads the list; only the window's own code presses it
class FriendForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FriendForm)

public:
    static constexpr int kClientWidth = 6360; // twips
    static constexpr int kClientHeight = 6960;

    explicit FriendForm(QWidget *parent = nullptr);
    ~FriendForm() override;

    void Command1_Click(); // paste
    void Command2_Click(); // reload
    void Command3_Click(); // home
    void Command4_Click(); // add
    void Command5_Click(); // delete

    // Puts `address` into the address box, as it stands, for the user to add a name.
    void showAddress(const QString &address);

    void ReloadAddressList();
    // Fills the address buffer from the boxes and writes it as record `recordNumber`.
    bool SaveAddressRecord(qint16 recordNumber);

    // Faults for the compaction after a deletion (none: the real disk). Only
    // tests set them; they go when the store takes a disk interface instead.
    void setStoreFaults(StoreFaults faults) { m_storeFaults = std::move(faults); }

private:
    void Form_Load();

    QList<qint64> m_rowRecords; // record number of each row of List1
    StoreFaults m_storeFaults;

    // Controls, by their fixed names (the table above).
    QLabel *Label1 = nullptr;
    QLineEdit *Text4 = nullptr;
    QPushButton *Command1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *Text3 = nullptr;
    QListWidget *List1 = nullptr;
    QLabel *Label7 = nullptr;
    QPushButton *Command2 = nullptr;
    QLabel *Label8 = nullptr;
};

// How one row of the address list is drawn inside `row`: the address part of
// the row text in the left column, cut with "…" when it does not fit, and the
// name part in the right column, both without their blank padding. The row's
// text itself stays as it is.
struct AddressRowLook {
    QRect addressRect;
    QString address;
    QRect nameRect;
    QString name;
};
AddressRowLook addressRowLook(const QString &rowText, const QRect &row, const QFontMetrics &metrics);

} // namespace kestra
