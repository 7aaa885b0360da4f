#pragma once

#include <QColor>
#include <QString>

#include <span>

class QLabel;
class QPushButton;
class QWidget;

namespace kestra {

// Controls placed in twips relative to their parent, named after the control
// so that windows and tests find them by name.

// A push button; with a valid colour, drawn in that background colour.
QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, int left, int top,
                        int width, int height, QColor colour = QColor());
QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, int left, int top, int width,
                  int height);

// One hover-help text: the control's name and the text shown for it.
struct HelpEntry {
    const char *control;
    const char16_t *text;
};

// The help text of `controlName` in `table`, or an empty text.
QString helpTextIn(std::span<const HelpEntry> table, const QString &controlName);

} // namespace kestra
