#include "app/Startup.h"

#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Paths.h"
#include "common/UserPrompt.h"

#include <QApplication>
#include <QStyleFactory>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace kestra {

int runApplication(int argc, char *argv[])
{
#ifndef Q_OS_WIN
    // The web engine refuses to start its sandbox as root; only then is it switched off.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kestra"));
    QApplication::setApplicationDisplayName(appTitle());
    // Fusion draws push buttons in their palette colour on every platform.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    appState().appFolder = defaultAppFolder();
    if (const QString problem = appPaths().ensureFolders(); !problem.isEmpty()) {
        prompt().info(problem, appTitle(), PromptIcon::Critical);
        return 1;
    }

    auto *main = new MainForm;
    main->setAttribute(Qt::WA_DeleteOnClose);
    main->Form_Load();
    return QApplication::exec();
}

} // namespace kestra
