#include "mime/MimeCodec.h"

#include <QCoreApplication>

#include <atomic>
#include <mutex>

#include <dlfcn.h>

namespace kestra::mime {

namespace {

// The table, from the library in this process, or loaded from its file.
const MimeCodec *loadCodec(QString *why)
{
    // Linked into this program (the fuzzers link the library): nothing to load.
    if (void *linked = ::dlsym(RTLD_DEFAULT, KESTRA_MIME_CODEC_ENTRY))
        return reinterpret_cast<MimeCodecEntry>(linked)();
    const QString path = mimeCodecLibraryPath();
    const auto failed = [&](const char *reason) {
        *why = QStringLiteral("メールの解析と作成に使うライブラリ %1 を読み込めません。(%2)")
                   .arg(path, QString::fromLocal8Bit(reason ? reason : "?"));
        return nullptr;
    };
    // Never unloaded: GLib's types stay registered for the rest of the run.
    void *library = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return failed(::dlerror());
    void *entry = ::dlsym(library, KESTRA_MIME_CODEC_ENTRY);
    if (!entry) {
        const QByteArray reason = ::dlerror();
        ::dlclose(library);
        return failed(reason.constData());
    }
    return reinterpret_cast<MimeCodecEntry>(entry)();
}

} // namespace

QString mimeCodecLibraryPath()
{
    const QString chosen = qEnvironmentVariable("KESTRA_MIME_LIBRARY");
    if (!chosen.isEmpty())
        return chosen;
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/kestra/libkestra_mimecodec.so");
}

const MimeCodec *mimeCodec(QString *error)
{
    // Loaded once, by whichever thread asks first (usually the receive
    // thread); the others wait for it. A failed load is tried again next time.
    static std::atomic<const MimeCodec *> loaded{nullptr};
    static std::mutex loading;
    if (const MimeCodec *codec = loaded.load(std::memory_order_acquire))
        return codec;
    const std::lock_guard lock(loading);
    if (const MimeCodec *codec = loaded.load(std::memory_order_relaxed))
        return codec;
    QString why;
    const MimeCodec *codec = loadCodec(&why);
    if (!codec) {
        if (error)
            *error = why;
        return nullptr;
    }
    loaded.store(codec, std::memory_order_release);
    return codec;
}

} // namespace kestra::mime
