#pragma once

#include "storage/Records.h"

namespace kestra {

// One record buffer per store, shared by every window: reads fill it, writes
// take it whole. The reply window takes the body of the mail shown last from here.
MailRecord &receivedBuffer();
MailRecord &sentBuffer();
AddressRecord &addressBuffer();

// The buffer of the mail store that the history mode names (1 received, 2 sent).
MailRecord &mailBuffer(qint16 historyMode);

void resetStoreBuffers();

} // namespace kestra
