#pragma once

namespace kestra {

class SecurityPrompt;

// The mail sessions' questions (trust a certificate, send a password in
// clear) as the program's message boxes, shown by the main thread while the
// session waits on its own.
SecurityPrompt &boxSecurityPrompt();

} // namespace kestra
