// Decoding any bytes never crashes; decoded text encodes again; fixed-width
// fields always have their width and never end in a lone lead byte.
#include "storage/Cp932.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = cp932::decode(bytes);
    const QByteArray again = cp932::encode(text);
    if (cp932::decode(again) != cp932::decode(cp932::encode(cp932::decode(again))))
        std::abort();
    const int width = size > 0 ? data[0] % 64 : 0;
    const QByteArray field = cp932::encodeField(text, width);
    if (field.size() != width)
        std::abort();
    // The bytes must split into whole characters.
    qsizetype i = 0;
    while (i < field.size())
        i += cp932::isLeadByte(uchar(field[i])) ? 2 : 1;
    if (i != field.size())
        std::abort();
    // UTF-16 input with unpaired surrogates or any code point.
    const QString raw = QString::fromUtf16(reinterpret_cast<const char16_t *>(data), qsizetype(size / 2));
    if (cp932::encodeField(raw, width).size() != width)
        std::abort();
    return 0;
}
