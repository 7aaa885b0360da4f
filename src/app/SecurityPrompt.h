#pragma once

namespace kestra {

// Puts the mail layer's questions (trust a certificate, send a password in
// clear) into the program's message boxes. The main window does it when it is
// created, so every receive and send can ask.
void installSecurityPrompt();

} // namespace kestra
