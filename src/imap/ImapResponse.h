#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace kestra {

// What one IMAP response may hold. A server beyond these bounds is not
// answering sanely: the session ends with an error that says which bound.
struct ImapBounds {
    qsizetype longestLine = 64 * 1024;     // one line of text between literals
    qint64 largestLiteral = 64 * 1024;     // one literal ({N} and its N bytes)
    int mostLiterals = 8;                  // literals in one response
    int deepestNesting = 16;               // parenthesised lists inside each other
};

// One complete response as the server sent it: its tag ("*" untagged, "+"
// a continuation, else a command's tag) and the rest, the text around each
// literal kept apart from the literal's bytes: text[0] literal[0] text[1] ...
struct ImapResponse {
    QByteArray tag;
    QList<QByteArray> text;     // one more than literals
    QList<QByteArray> literals;

    // The first text's words: "OK", "3 EXISTS", "12 FETCH" ...
    QByteArray head() const { return text.value(0); }
    // The status word of a tagged or untagged status ("OK", "NO", "BAD", "BYE", "PREAUTH"); empty otherwise.
    QByteArray status() const;
    // "* 3 EXISTS": 3 and "EXISTS"; a number that is no number gives -1.
    qint64 number() const;
    QByteArray keyword() const;
    // The response code in brackets after a status ("UIDVALIDITY 3", "CAPABILITY ...").
    QByteArray code() const;
    // The words of a CAPABILITY response or code, upper case.
    QList<QByteArray> capabilities() const;
};

// Takes the first complete response off the front of `in`. nullopt while
// more bytes are needed (a partial line or literal, within the bounds);
// an error text when the bytes break a bound or are no response at all.
struct ImapTaken {
    std::optional<ImapResponse> response;
    QString error;
};
ImapTaken takeImapResponse(QByteArray &in, const ImapBounds &bounds);

// The items of a FETCH response that the mailbox reads.
struct ImapFetch {
    qint64 uid = -1;
    qint64 size = -1;               // RFC822.SIZE
    std::optional<QByteArray> body; // BODY[] or BODY[HEADER]; nullopt: not in this response
    bool deleted = false;           // FLAGS holds \Deleted
};
// Reads "* n FETCH (...)": an error text when the list is not well formed or
// nests deeper than the bound.
std::optional<ImapFetch> parseImapFetch(const ImapResponse &response, int deepestNesting, QString *error);

// A string as IMAP quotes it: "..." with \ and " escaped.
QByteArray imapQuoted(const QByteArray &text);

} // namespace kestra
