// kestra.ini and profile files of any content parse without crashing; a value
// written into a profile file reads back as written (within 255 bytes).
#include "storage/Cp932.h"
#include "storage/Settings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    SharedSettings s;
    parseKestraIni(bytes, s);
    if (s.smtpServer.size() > 100 || s.pop3Server.size() > 100 || s.mailAddress.size() > 100)
        std::abort();
    (void)formatKestraIni(s);

    const QString section = QStringLiteral("EXEINI");
    (void)ProfileFile::value(bytes, section, QStringLiteral("NAME"));
    // A plain value survives being written into whatever the file held.
    const QString value = QStringLiteral("taro123");
    const QByteArray written = ProfileFile::withValue(bytes, section, QStringLiteral("NAME"), value);
    if (ProfileFile::value(written, section, QStringLiteral("NAME")) != value)
        std::abort();
    return 0;
}
