// Japanese charsets and header words of any content decode without crashing.
#include "mime/Charsets.h"
#include "mime/MimeMessage.h"

#include <cstddef>
#include <cstdint>

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)mime::decodeIso2022Jp(bytes);
    (void)mime::decodeEucJp(bytes);
    (void)mime::decodeGuessed(bytes);
    (void)mime::decodeHeaderValue(bytes);
    (void)mime::headerParameters(bytes);
    (void)mime::headerToken(bytes);
    (void)mime::decodeBase64(bytes);
    (void)mime::decodeQuotedPrintable(bytes, size % 2 == 0);
    (void)mime::bareAddress(bytes);
    (void)mime::summariseHeader(bytes);
    (void)mime::htmlToText(QString::fromLatin1(bytes));
    // The first byte picks a labelled charset for the rest.
    static const char *const charsets[] = {"iso-2022-jp", "shift_jis", "cp932", "euc-jp", "utf-8",
                                           "iso-8859-1", "x-unknown", ""};
    if (size > 0)
        (void)mime::decodeText(bytes.sliced(1), charsets[data[0] % 8]);
    return 0;
}
