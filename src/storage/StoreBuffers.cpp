#include "storage/StoreBuffers.h"

namespace kestra {

namespace {
struct Buffers {
    MailRecord received;
    MailRecord sent;
    AddressRecord address;
};

Buffers &buffers()
{
    static Buffers b;
    return b;
}
} // namespace

MailRecord &receivedBuffer() { return buffers().received; }
MailRecord &sentBuffer() { return buffers().sent; }
AddressRecord &addressBuffer() { return buffers().address; }

MailRecord &mailBuffer(qint16 historyMode)
{
    return historyMode == 2 ? sentBuffer() : receivedBuffer();
}

void resetStoreBuffers()
{
    buffers() = Buffers{};
}

} // namespace kestra
