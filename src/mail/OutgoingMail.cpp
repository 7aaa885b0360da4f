#include "mail/OutgoingMail.h"

#include "common/Text.h"

namespace kestra {

QStringList splitAttachmentPaths(const QString &joined)
{
    QStringList out;
    const QStringList parts = joined.split(QLatin1Char(','));
    for (const QString &p : parts) {
        if (!trimBlanks(p).isEmpty())
            out.append(p);
    }
    return out;
}

} // namespace kestra
