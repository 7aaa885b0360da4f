#pragma once

#include <QIcon>

namespace kestra {

// The program's icon (the picture of data/kestra.svg: a letter on a blue
// tile), drawn at the sizes windows and trays use. With `newMail` it carries a
// red mark in its corner, for the tray while new mail waits.
QIcon programIcon(bool newMail = false);

} // namespace kestra
