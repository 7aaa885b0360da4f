#include "common/Result.h"

#include <QDir>

namespace kestra {

Error Error::fileOperation(QString file, QString reason)
{
    Error e(QStringLiteral("ファイルの操作に失敗しました。\r\n%1\r\n%2").arg(QDir::toNativeSeparators(file), reason),
        Kind::File);
    e.file = std::move(file);
    e.reason = std::move(reason);
    return e;
}

} // namespace kestra
