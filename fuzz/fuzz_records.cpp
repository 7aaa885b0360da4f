// Any bytes read from a record file decode without crashing, and what decodes
// encodes back to a record of the same length.
#include "storage/Records.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace kestra;

template <class R>
static void roundTrip(QByteArrayView bytes)
{
    const R record = R::decode(bytes.first(qMin<qsizetype>(bytes.size(), R::kLength)));
    if (record.encode().size() != R::kLength)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    roundTrip<MailRecord>(bytes);
    roundTrip<AddressRecord>(bytes);
    roundTrip<FavouriteRecord>(bytes);
    (void)MailRecord::decodeHeaders(bytes);
    return 0;
}
