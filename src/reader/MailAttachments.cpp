#include "reader/MailAttachments.h"

#include "common/AppState.h"
#include "common/DesktopServices.h"
#include "common/Paths.h"
#include "common/RiskyFiles.h"
#include "common/UserPrompt.h"
#include "mime/AttachmentFiles.h"
#include "mime/MimeMessage.h"
#include "storage/Originals.h"
#include "web/WebLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QWidget>

namespace kestra {

QList<AttachmentItem> attachmentsOf(QByteArrayView message)
{
    const QMimeDatabase types;
    QList<AttachmentItem> items;
    const mime::MessageContent content = mime::parseMessage(message);
    for (const mime::Attachment &a : content.attachments) {
        AttachmentItem item;
        item.name = a.name.isEmpty() ? QStringLiteral("添付%1.dat").arg(items.size() + 1) : a.name;
        item.type = types.mimeTypeForFileNameAndData(item.name, a.data).name();
        item.data = a.data;
        items << item;
    }
    return items;
}

std::optional<QByteArray> originalMessage(const QByteArray &recordBytes)
{
    const QString path = originals::originalFor(originals::folderIn(appPaths().dataFolder()), recordBytes);
    if (path.isEmpty())
        return std::nullopt;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    if (bytes < 1024 * 1024)
        return QString::number(double(bytes) / 1024, 'f', 1) + QStringLiteral(" KB");
    return QString::number(double(bytes) / (1024 * 1024), 'f', 1) + QStringLiteral(" MB");
}

namespace {

// Asks before a program or script is started by opening it.
bool acceptsRunning(const QString &name)
{
    return prompt().message(
               QStringLiteral("「%1」はプログラムまたはスクリプトです。開くとこのパソコンの上で動きます。"
                              "送り主が確かで、内容を知っているときだけ開いて下さい。開きますか？")
                   .arg(name),
               QStringLiteral("確認"), PromptIcon::Exclamation, PromptButtons::YesNo, PromptDefault::Safe)
           == PromptAnswer::Yes;
}

bool handToDesktop(const QString &path)
{
    if (desktop().openUrl(QUrl::fromLocalFile(path)))
        return true;
    prompt().info(QStringLiteral("「%1」を開くアプリケーションが見つかりませんでした。"
                                 "名前を付けて保存してから、使うアプリケーションで開いて下さい。")
                      .arg(QFileInfo(path).fileName()),
                  appTitle(), PromptIcon::Exclamation);
    return false;
}

// A page opened by a browser from a file could read the user's other files:
// it is shown in the mail view instead, without scripts, local files or
// remote content. SVG goes in as an image, where it runs nothing. Without the
// web engine the user is told to save the file instead; false then.
bool showInSafeView(const QString &fileName, const QByteArray &data, bool svg)
{
    QString error;
    WebEngine *engine = webEngine(&error);
    if (!engine) {
        prompt().info(QStringLiteral("ブラウザを開けませんでした。「%1」は名前を付けて保存してから開いて下さい。\r\n%2")
                          .arg(fileName, error),
                      appTitle(), PromptIcon::Exclamation);
        return false;
    }
    QString html;
    if (svg) {
        html = QStringLiteral("<img src=\"data:image/svg+xml;base64,%1\">")
                   .arg(QString::fromLatin1(data.toBase64()));
    } else {
        QStringDecoder decoder = QStringDecoder::decoderForHtml(data);
        html = decoder.isValid() ? QString(decoder.decode(data)) : QString::fromUtf8(data);
    }
    MailView *view = engine->createMailView(nullptr, [](const QUrl &) {});
    QWidget *window = view->widget();
    window->setObjectName(QStringLiteral("AttachmentView"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(fileName);
    window->resize(800, 600);
    view->showHtml(html);
    window->show();
    return true;
}

bool isSvg(const QString &path)
{
    static const QMimeDatabase types;
    return types.mimeTypeForFile(path).inherits(QStringLiteral("image/svg+xml"));
}

} // namespace

FileRisk judgeAttachment(const QString &writtenPath, const QString &mailName)
{
    if (isRiskyFileName(mailName))
        return FileRisk::Runs;
    return fileRisk(writtenPath);
}

bool openAttachment(const AttachmentItem &item)
{
    // A folder of this user alone; files are written new, readable only by the
    // user and never executable.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
                           + QStringLiteral("/attachments");
    QString error;
    QString path;
    if (QDir().mkpath(folder)) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (const Result<QString> written = mime::writeNewFile(folder, item.name, item.data))
            path = written.value();
        else
            error = written.error().message();
    } else {
        error = QStringLiteral("フォルダ %1 を作れません").arg(folder);
    }
    if (path.isEmpty()) {
        prompt().info(QStringLiteral("添付ファイル「%1」を開くための一時ファイルを書けませんでした（%2）。"
                                     "ディスクの空きを確かめるか、名前を付けて保存して下さい。")
                          .arg(item.name, error),
                      appTitle(), PromptIcon::Exclamation);
        return false;
    }
    // Judged as written: the desktop goes by the written name and contents.
    switch (judgeAttachment(path, item.name)) {
    case FileRisk::Runs:
        if (!acceptsRunning(QFileInfo(path).fileName())) {
            QFile::remove(path);
            return false;
        }
        break;
    case FileRisk::LocalPage: {
        const bool shown = showInSafeView(QFileInfo(path).fileName(), item.data, isSvg(path));
        QFile::remove(path);
        return shown;
    }
    case FileRisk::None:
        break;
    }
    return handToDesktop(path);
}

bool saveAttachmentAs(const AttachmentItem &item)
{
    const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation))
                                  .filePath(mime::safeFileName(item.name));
    const QString path = prompt().saveFileName(QStringLiteral("名前を付けて保存"), suggested, QString());
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(item.data) != item.data.size() || !file.commit()) {
        prompt().info(QStringLiteral("「%1」に保存できませんでした（%2）。別の場所か名前を選んで下さい。")
                          .arg(path, file.errorString()),
                      appTitle(), PromptIcon::Exclamation);
        return false;
    }
    return true;
}

} // namespace kestra
