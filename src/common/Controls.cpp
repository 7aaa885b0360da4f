#include "common/Controls.h"

#include "common/Twips.h"

#include <QLabel>
#include <QPushButton>

namespace kestra {

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, int left, int top,
                        int width, int height, QColor colour)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    setGeometryTwips(b, left, top, width, height);
    if (colour.isValid()) {
        QPalette p = b->palette();
        p.setColor(QPalette::Button, colour);
        b->setPalette(p);
        b->setAutoFillBackground(true);
    }
    return b;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, int left, int top, int width,
                  int height)
{
    auto *label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    setGeometryTwips(label, left, top, width, height);
    return label;
}

QString helpTextIn(std::span<const HelpEntry> table, const QString &controlName)
{
    for (const HelpEntry &e : table) {
        if (controlName == QLatin1String(e.control))
            return QString::fromUtf16(e.text);
    }
    return {};
}

} // namespace kestra
