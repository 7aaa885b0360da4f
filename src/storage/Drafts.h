#pragma once

#include "common/Result.h"

#include <QMap>
#include <QString>

namespace kestra {

// What a compose or reply window holds: enough to open the window again with
// the same text after the program ended without sending it.
struct Draft {
    QString to;
    QString subject;
    QString body;
    QString attachments; // full paths joined by ","

    bool isEmpty() const { return to.isEmpty() && subject.isEmpty() && body.isEmpty() && attachments.isEmpty(); }
    friend bool operator==(const Draft &, const Draft &) = default;
};

// The drafts file in the data folder: one draft per window that was open, by
// the window's key "<window kind>:<id>" (newDraftKey). A file written before
// windows had ids holds at most one draft per kind, keyed by the kind alone;
// it is read the same way. Every change rewrites the whole file through a temporary file renamed
// over it, so a kill at any instant leaves either the old or the new drafts,
// never a torn file. It holds what the user wrote: readable by the owner only.
class DraftFile
{
public:
    explicit DraftFile(QString path) : m_path(std::move(path)) {}

    // Every draft in the file (none without a file); an error when the file
    // cannot be read or is damaged.
    Result<QMap<QString, Draft>> readAll() const;
    // Puts `draft` in as the draft of `window`; an empty draft removes it.
    // A damaged file is first renamed to "<file>.bad" ("<file>.bad.2", ...
    // when that is taken); one that cannot be read is left as it is and the
    // save fails.
    Status save(const QString &window, const Draft &draft) const;
    Status remove(const QString &window) const { return save(window, Draft{}); }

    const QString &path() const { return m_path; }

private:
    QString m_path;
};

// A key no other window of this run or an earlier one holds: the kind, the
// time of the call and a counter, so that keys sort by the time they were made.
QString newDraftKey(const QString &kind);
// The window kind of a key ("WriteForm", "BackForm"), also of a key of the
// older kind-only form.
QString draftKind(const QString &key);

} // namespace kestra
