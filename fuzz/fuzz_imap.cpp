// IMAP server bytes of any content: the response reader takes whole responses
// within its bounds or says why not, never reads past what it was given, and
// the FETCH parser reads each response without crashing or nesting deeper
// than its bound.
#include "imap/ImapResponse.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray in(reinterpret_cast<const char *>(data), qsizetype(size));
    ImapBounds bounds;
    bounds.longestLine = 4096;
    bounds.largestLiteral = 4096;
    for (;;) {
        const qsizetype before = in.size();
        const ImapTaken taken = takeImapResponse(in, bounds);
        if (!taken.response)
            break;
        const ImapResponse &r = *taken.response;
        // Every response takes bytes, and its parts add up to no more than them.
        qsizetype parts = r.tag.size();
        for (const QByteArray &t : r.text)
            parts += t.size();
        for (const QByteArray &l : r.literals)
            parts += l.size();
        if (in.size() >= before || parts > before - in.size() || r.text.size() != r.literals.size() + 1
            || r.literals.size() > bounds.mostLiterals)
            std::abort();
        (void)r.capabilities();
        (void)r.code();
        if (const std::optional<ImapFetch> f = parseImapFetch(r, 8, nullptr); f && f->body && f->body->size() > before)
            std::abort();
    }
    return 0;
}
