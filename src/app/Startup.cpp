#include "app/Startup.h"

#include "app/AutoCheck.h"
#include "app/BrowserPane.h"
#include "app/MainForm.h"
#include "app/NetworkMailPorts.h"
#include "app/ProgramIcon.h"
#include "app/SingleInstance.h"
#include "common/AppState.h"
#include "common/CoreDumps.h"
#include "common/Paths.h"
#include "common/UserPrompt.h"
#include "compose/DraftKeeper.h"
#include "mail/RawMessage.h"
#include "settings/MailOptionsInForce.h"
#include "web/WebLoader.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>
#include <QStyleFactory>

#include <vector>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace kestra {

void installJapaneseTranslations(QCoreApplication &app)
{
    // Qt's own texts (dialog buttons, context menus, file and print dialogs) in
    // Japanese, like the rest of the program, whatever the system's language.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto *translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Japanese), QStringLiteral("qt"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

RenderingChoice chooseRendering()
{
    RenderingChoice choice;
#ifndef Q_OS_WIN
    // Loading the OpenGL driver when the display connection opens costs about
    // 50 ms, a third of the start-up, before the window can appear; the pane
    // shows ordinary pages just as well in software (the web library chooses
    // its scene graph when it is loaded). Settings the user made for Qt
    // themselves are left alone.
    if (qEnvironmentVariableIntValue("KESTRA_GPU") == 1)
        return choice;
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
        choice.glIntegrationSet = true;
    }
#endif
    return choice;
}

void settleRendering(const RenderingChoice &choice)
{
    // The display connection has read the variable; programs started from
    // here (the system's browser, say) must not inherit it.
    if (choice.glIntegrationSet)
        qunsetenv("QT_XCB_GL_INTEGRATION");
}

std::vector<char *> withEngineArguments(int argc, char *argv[], bool root)
{
    std::vector<char *> args(argv, argv + argc);
    // The web engine refuses to start its sandbox as root; only then is it
    // switched off, on the command line the engine reads rather than in the
    // environment, which programs started from here would inherit. Without
    // the sandbox the engine's zygote (two resident processes that fork the
    // page processes inside it) serves no purpose: the page process is
    // started directly, about 10 MiB less in all.
    static char engineArgs[] = "--webEngineArgs";
    static char noSandbox[] = "--no-sandbox";
    static char noZygote[] = "--no-zygote";
    if (root && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        // While QTWEBENGINE_CHROMIUM_FLAGS is set (even empty) the engine reads
        // its switches there and ignores the command line: the switches are
        // added to the user's own flags instead, which stay as they are.
        if (qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) {
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                    (qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + ' ' + noSandbox + ' ' + noZygote).trimmed());
        } else {
            args.insert(args.end(), {engineArgs, noSandbox, noZygote});
        }
    }
    args.push_back(nullptr);
    return args;
}

void keepLargeBuffersApart()
{
#ifdef __GLIBC__
    // A 受信 run holds a large message two or three times over (as fetched,
    // as parsed, decoded) on its worker thread. Left alone, glibc raises its
    // threshold for pages of their own past the first such buffer freed, and
    // later ones are carved from the heaps, where what stays allocated around
    // them keeps their pages resident: after 1,000 mails about 1.5 MiB more
    // at the peak and after the run. Fixed, the threshold stays at 128 KiB.
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

int runApplication(int argc, char *argv[])
{
    // Before any password is read: a crash leaves no core file holding it.
    keepOutOfCoreDumps();
    keepLargeBuffersApart();
#ifndef Q_OS_WIN
    std::vector<char *> args = withEngineArguments(argc, argv, ::geteuid() == 0);
#else
    std::vector<char *> args = withEngineArguments(argc, argv, false);
#endif
    argc = int(args.size()) - 1;
    argv = args.data();
    const RenderingChoice rendering = chooseRendering();
    // The web engine shares its OpenGL contexts with the widgets; this must be
    // set before the application object exists, though the engine itself is
    // loaded later.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    settleRendering(rendering);
    QApplication::setApplicationName(QStringLiteral("kestra"));
    QApplication::setWindowIcon(programIcon());
    // Fusion draws push buttons in their palette colour on every platform.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    installJapaneseTranslations(app);

    appState().appFolder = defaultAppFolder();
    if (const Status made = appPaths().ensureFolders(); !made) {
        prompt().info(made.error().message(), appTitle(), PromptIcon::Critical);
        return 1;
    }
    // One copy per application folder: a second start shows the first one's window.
    SingleInstance instance(appState().appFolder);
    if (!instance.acquire()) {
        if (!instance.activateRunning())
            prompt().info(QStringLiteral("このプログラムはすでに起動しています。先に起動したウィンドウを使って下さい。"),
                          appTitle(), PromptIcon::Information);
        return 0;
    }

    // A message being received when the program last crashed left its file.
    removeReceiveLeftovers();

    // The real POP3 and SMTP ports serve the whole run; they are in place
    // before any window can use them.
    installMailPorts(networkMailPorts());

    auto *main = new MainForm;
    main->setAttribute(Qt::WA_DeleteOnClose);
    main->Form_Load();
    instance.setWindow(main);
    // The web engine starts with the first page shown (in the pane or in 原文):
    // the user hears then that it runs without its sandbox.
    QPointer<MainForm> window = main;
    setWebEngineStarted([window] {
        if (window && engineSandboxOff())
            window->showSandboxNotice();
    });
    // A compose or reply window left with text by a crash, a kill or a close
    // without sending is offered back once the main window is up and painted.
    QObject::connect(main, &MainForm::startupFinished, main, &offerDraftRestore, Qt::SingleShotConnection);
    // Receiving every N minutes, when the user chose it (off by default).
    new AutoCheck(*main);
    return QApplication::exec();
}

} // namespace kestra
