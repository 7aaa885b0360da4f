#pragma once

namespace kestra {

// The process holds mail passwords in memory: no core file is written when it
// crashes (a core limit of 0) and other processes of the same user may not
// attach to it or read its memory (not dumpable). True when both took effect;
// a system without these controls gives true with nothing done.
bool keepOutOfCoreDumps();

} // namespace kestra
