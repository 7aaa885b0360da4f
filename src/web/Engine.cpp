// The library's entry point: the factory of the browser pane and the mail view.

#include "web/Engine.h"

#include "web/BrowserView.h"
#include "web/MailHtmlView.h"

#include <QQuickWindow>

// Qt WebEngine's own start: it makes the OpenGL context its views share with
// the widgets. Loaded with the program, the engine runs it when the
// application object is made; loaded later, as here, it has to be called
// before the first view (without it the first view crashes on the missing
// context). Exported by libQt6WebEngineCore, declared in its private headers.
namespace QtWebEngineCore {
void initialize();
}

namespace kestra {

bool chooseSceneGraph()
{
    // Pages draw just as well in software, and no OpenGL driver is loaded for them.
    if (qEnvironmentVariableIntValue("KESTRA_GPU") == 1 || !qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        return false;
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return true;
}

namespace {

class Factory final : public WebEngine
{
public:
    WebPane *createPane(QWidget *window, WebPaneHost host, double zoom) override
    {
        return new BrowserView(window, std::move(host), zoom);
    }
    MailView *createMailView(QWidget *parent, std::function<void(const QUrl &)> linkActivated) override
    {
        auto *view = new MailHtmlView(parent);
        QObject::connect(view, &MailHtmlView::linkActivated, view, std::move(linkActivated));
        return view;
    }
};

} // namespace

} // namespace kestra

kestra::WebEngine *kestra_web_engine()
{
    // Before the first view, once: the scene graph, then the engine's start.
    static kestra::Factory factory = [] {
        kestra::chooseSceneGraph();
        QtWebEngineCore::initialize();
        return kestra::Factory();
    }();
    return &factory;
}
