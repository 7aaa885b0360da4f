#include "common/Controls.h"

#include "common/Twips.h"

#include <QFontMetrics>
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

QString wrappedToFit(const QFontMetrics &metrics, QSize size, const QString &text)
{
    const QRect area(QPoint(0, 0), size);
    const auto fits = [&](const QString &t) {
        const QRect needed = metrics.boundingRect(area, Qt::TextWordWrap, t);
        return needed.width() <= size.width() && needed.height() <= size.height();
    };
    if (fits(text))
        return text;
    for (qsizetype keep = text.size() - 1; keep > 0; --keep) {
        const qsizetype head = (keep + 1) / 2;
        const QString shorter = text.left(head) + QChar(0x2026) + text.right(keep - head);
        if (fits(shorter))
            return shorter;
    }
    return QString(QChar(0x2026));
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
