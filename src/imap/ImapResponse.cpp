#include "imap/ImapResponse.h"

namespace kestra {

namespace {

constexpr int kLongestLiteralDigits = 18; // fits in a qint64

// The literal a line announces at its end ("{123}" or "{123+}"): its length, or -1.
qint64 announcedLiteral(const QByteArray &line)
{
    if (!line.endsWith('}'))
        return -1;
    const qsizetype open = line.lastIndexOf('{');
    if (open < 0)
        return -1;
    QByteArray digits = line.mid(open + 1, line.size() - open - 2);
    if (digits.endsWith('+'))
        digits.chop(1);
    if (digits.isEmpty() || digits.size() > kLongestLiteralDigits)
        return -1;
    for (const char c : std::as_const(digits)) {
        if (c < '0' || c > '9')
            return -1;
    }
    return digits.toLongLong();
}

QList<QByteArray> words(const QByteArray &text)
{
    return text.simplified().split(' ');
}

// Walks the text and literals of a response token by token.
class Tokens
{
public:
    enum class Kind { Atom, String, Open, Close, End, Bad };
    struct Token {
        Kind kind = Kind::End;
        QByteArray bytes;
    };

    Tokens(const ImapResponse &r, qsizetype from) : m_r(r), m_at(from) {}

    Token next()
    {
        const QByteArray &text = m_r.text.at(m_segment);
        while (m_at < text.size() && text.at(m_at) == ' ')
            ++m_at;
        if (m_at >= text.size()) {
            if (m_segment >= m_r.literals.size())
                return {Kind::End, {}};
            const QByteArray &literal = m_r.literals.at(m_segment);
            ++m_segment;
            m_at = 0;
            return {Kind::String, literal};
        }
        const char c = text.at(m_at);
        if (c == '(' || c == ')') {
            ++m_at;
            return {c == '(' ? Kind::Open : Kind::Close, {}};
        }
        if (c == '"')
            return quoted(text);
        const qsizetype start = m_at;
        int brackets = 0;
        while (m_at < text.size()) {
            const char d = text.at(m_at);
            if (d == '[')
                ++brackets;
            else if (d == ']')
                --brackets;
            else if (brackets <= 0 && (d == ' ' || d == '(' || d == ')'))
                break;
            ++m_at;
        }
        return {brackets == 0 ? Kind::Atom : Kind::Bad, text.mid(start, m_at - start)};
    }

private:
    Token quoted(const QByteArray &text)
    {
        QByteArray out;
        for (++m_at; m_at < text.size(); ++m_at) {
            char c = text.at(m_at);
            if (c == '"') {
                ++m_at;
                return {Kind::String, out};
            }
            if (c == '\\' && m_at + 1 < text.size())
                c = text.at(++m_at);
            out += c;
        }
        return {Kind::Bad, {}};
    }

    const ImapResponse &m_r;
    qsizetype m_segment = 0;
    qsizetype m_at;
};

} // namespace

QByteArray ImapResponse::status() const
{
    const QByteArray word = words(head()).value(0).toUpper();
    for (const char *s : {"OK", "NO", "BAD", "BYE", "PREAUTH"}) {
        if (word == s)
            return word;
    }
    return {};
}

qint64 ImapResponse::number() const
{
    bool ok = false;
    const QByteArray first = words(head()).value(0);
    const qint64 n = first.size() <= kLongestLiteralDigits ? first.toLongLong(&ok) : -1;
    return ok && n >= 0 ? n : -1;
}

QByteArray ImapResponse::keyword() const
{
    const QList<QByteArray> w = words(head());
    return (number() >= 0 ? w.value(1) : w.value(0)).toUpper();
}

QByteArray ImapResponse::code() const
{
    const QByteArray &t = head();
    const qsizetype open = t.indexOf('[');
    const qsizetype close = t.indexOf(']', open + 1);
    if (status().isEmpty() || open < 0 || close < 0 || !t.left(open).trimmed().toUpper().startsWith(status()))
        return {};
    return t.mid(open + 1, close - open - 1);
}

QList<QByteArray> ImapResponse::capabilities() const
{
    QList<QByteArray> w = words(keyword() == "CAPABILITY" ? head() : code());
    if (w.value(0).toUpper() != "CAPABILITY")
        return {};
    w.removeFirst();
    for (QByteArray &name : w)
        name = name.toUpper();
    return w;
}

ImapTaken takeImapResponse(QByteArray &in, const ImapBounds &bounds)
{
    ImapResponse r;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype nl = in.indexOf('\n', pos);
        const qsizetype length = (nl < 0 ? in.size() : nl) - pos;
        if (length > bounds.longestLine)
            return {std::nullopt, QStringLiteral("1行が %1 バイトを超えました").arg(bounds.longestLine)};
        if (nl < 0)
            return {};
        QByteArray line = in.mid(pos, length);
        if (line.endsWith('\r'))
            line.chop(1);
        const qint64 literal = announcedLiteral(line);
        if (literal < 0) {
            r.text.append(line);
            in.remove(0, nl + 1);
            break;
        }
        if (literal > bounds.largestLiteral)
            return {std::nullopt, QStringLiteral("%1 バイトのデータを送ると言いました（扱えるのは %2 バイトまで）")
                                      .arg(literal).arg(bounds.largestLiteral)};
        if (r.literals.size() >= bounds.mostLiterals)
            return {std::nullopt, QStringLiteral("1つの応答に %1 個を超えるデータがあります").arg(bounds.mostLiterals)};
        const qsizetype start = nl + 1;
        if (in.size() - start < literal)
            return {};
        r.text.append(line.left(line.lastIndexOf('{')));
        r.literals.append(in.mid(start, literal));
        pos = start + literal;
    }
    QByteArray &first = r.text.first();
    const qsizetype blank = first.indexOf(' ');
    r.tag = blank < 0 ? first : first.left(blank);
    first = blank < 0 ? QByteArray() : first.mid(blank + 1);
    if (r.tag.isEmpty())
        return {std::nullopt, QStringLiteral("タグのない行を送りました")};
    return {std::move(r), {}};
}

std::optional<ImapFetch> parseImapFetch(const ImapResponse &response, int deepestNesting, QString *error)
{
    const auto bad = [error](const QString &why) -> std::optional<ImapFetch> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const qsizetype at = response.head().toUpper().indexOf("FETCH");
    if (response.tag != "*" || response.keyword() != "FETCH" || at < 0)
        return bad(QStringLiteral("FETCH の応答ではありません"));
    Tokens tokens(response, at + 5);
    if (tokens.next().kind != Tokens::Kind::Open)
        return bad(QStringLiteral("FETCH の応答に ( がありません"));
    ImapFetch fetch;
    for (;;) {
        const Tokens::Token key = tokens.next();
        if (key.kind == Tokens::Kind::Close)
            return fetch;
        if (key.kind != Tokens::Kind::Atom)
            return bad(QStringLiteral("FETCH の応答の項目名が読めません"));
        const QByteArray name = key.bytes.toUpper();
        const Tokens::Token value = tokens.next();
        // A list (FLAGS, BODYSTRUCTURE ...) is read over to its end.
        for (int depth = value.kind == Tokens::Kind::Open ? 2 : 0; depth > 1;) {
            if (depth > deepestNesting)
                return bad(QStringLiteral("FETCH の応答の括弧が %1 段を超えて入れ子になっています").arg(deepestNesting));
            const Tokens::Token inner = tokens.next();
            if (inner.kind == Tokens::Kind::End || inner.kind == Tokens::Kind::Bad)
                return bad(QStringLiteral("FETCH の応答の括弧が閉じていません"));
            depth += inner.kind == Tokens::Kind::Open ? 1 : inner.kind == Tokens::Kind::Close ? -1 : 0;
            if (name == "FLAGS" && inner.bytes.compare("\\Deleted", Qt::CaseInsensitive) == 0)
                fetch.deleted = true;
        }
        if (value.kind == Tokens::Kind::End || value.kind == Tokens::Kind::Bad || value.kind == Tokens::Kind::Close)
            return bad(QStringLiteral("FETCH の応答の %1 に値がありません").arg(QString::fromLatin1(key.bytes.left(40))));
        bool ok = true;
        if (name == "UID")
            fetch.uid = value.bytes.size() <= kLongestLiteralDigits ? value.bytes.toLongLong(&ok) : -1;
        else if (name == "RFC822.SIZE")
            fetch.size = value.bytes.size() <= kLongestLiteralDigits ? value.bytes.toLongLong(&ok) : -1;
        else if (name == "BODY[]" || name == "BODY[HEADER]")
            fetch.body = value.kind == Tokens::Kind::String ? value.bytes : QByteArray();
        if (!ok || (name == "UID" && fetch.uid <= 0) || (name == "RFC822.SIZE" && fetch.size < 0))
            return bad(QStringLiteral("FETCH の応答の %1 が数ではありません").arg(QString::fromLatin1(name)));
    }
}

QByteArray imapQuoted(const QByteArray &text)
{
    QByteArray out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

} // namespace kestra
