#pragma once

class QWidget;

namespace kestra {

// Shows `next` at the top-left corner of `previous`, modeless, and hides `previous`.
void SwapWindow(QWidget *next, QWidget *previous);

} // namespace kestra
