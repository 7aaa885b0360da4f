#pragma once

#include "mail/MailPorts.h"

namespace kestra {

// The options in force: the connection settings of kestra2.ini and the SMTP
// account, which is the SMTP log-in of the server settings window when one is
// set, else the ID and password in force this run (set by receiving or by the
// ID/password window), else the saved ones of iniIdPass.ini. Without an
// application folder (a bare library user) there are no settings files: only
// the ID in force, if any.
// Reads the program-wide state: call it on the main thread.
MailOptions mailOptionsInForce();

// The ports the windows receive and send through, installed at start-up (or
// by a test). Until then the mailbox and the sender fail with a text saying
// that mail cannot be sent or received, and nothing is contacted.
const MailPorts &mailPorts();
void installMailPorts(MailPorts ports);

} // namespace kestra
