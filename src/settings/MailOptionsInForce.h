#pragma once

#include "mail/MailOptions.h"

namespace kestra {

// The mail options of the program's application folder and the values in
// force this run (see mailOptionsFrom). Reads the program-wide state: call it
// on the main thread, before a receive or send starts.
MailOptions mailOptionsInForce();

} // namespace kestra
