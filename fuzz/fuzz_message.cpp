// A received message of any content is parsed and its attachments expanded
// without crashing, and every file it writes lands inside the attachment
// folder, never beside it and never as a link.
#include "mime/MessageExpansion.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir parent;
    const QString folder = parent.path() + QStringLiteral("/attach");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);

    const QByteArray message(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)mime::expandMessage(RawMessage(message), folder + QLatin1Char('/'), qint64(64) * 1024 * 1024);

    if (QDir(parent.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size() != 1)
        std::abort();
    const QString inside = QFileInfo(folder).absoluteFilePath() + QLatin1Char('/');
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (info.isSymLink() || !info.absoluteFilePath().startsWith(inside))
            std::abort();
    }
    return 0;
}
