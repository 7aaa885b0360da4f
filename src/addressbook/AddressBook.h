#pragma once

#include "storage/Records.h"
#include "common/Result.h"

#include <QString>

namespace kestra {

// Plain address-book steps shared by FriendForm and its tests.

// Longest name and address the input boxes take, in characters.
inline constexpr int kNameChars = 30;
inline constexpr int kAddressChars = 60;

// The text as code page 932 can hold it: every character without a code (an
// emoji, a character used only in Chinese) becomes one "?", the rest stays.
QString storableText(const QString &text);

// The record for a new entry: the name padded with ideographic spaces to 30
// characters, the address as typed, live, CR LF.
AddressRecord newAddressRecord(const QString &name, const QString &address);

// One list row: the address field as read, two blanks, the name field as read.
QString addressListRow(const AddressRecord &record);

// Paths of the address book and its compaction temporary in the data folder.
QString addressBookPath();
QString addressBookTempPath();

} // namespace kestra
