#pragma once

#include <QColor>
#include <QSize>
#include <QString>

#include <span>

class QFontMetrics;
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

// `text` as it fits an area of `size` when wrapped at word and character
// breaks: whole, or with as much of its start and end as fit around an ellipsis
// in place of its middle (so a file name keeps its extension).
QString wrappedToFit(const QFontMetrics &metrics, QSize size, const QString &text);

// One hover-help text: the control's name and the text shown for it.
struct HelpEntry {
    const char *control;
    const char16_t *text;
};

// The help text of `controlName` in `table`, or an empty text.
QString helpTextIn(std::span<const HelpEntry> table, const QString &controlName);

} // namespace kestra
