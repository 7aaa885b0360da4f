#include "app/SecurityPrompt.h"

#include "common/UserPrompt.h"
#include "common/WorkerThread.h"
#include "net/ServerSecurity.h"

namespace kestra {

namespace {

class BoxSecurityPrompt final : public SecurityPrompt
{
public:
    // Asked by a mail session on the thread that receives or sends; the box
    // is shown by the main thread, which waits in the run's event loop.
    bool ask(const QString &text, const QString &title, bool warning) override
    {
        bool yes = false;
        runOnMainThread([&] {
            yes = prompt().message(text, title, warning ? PromptIcon::Exclamation : PromptIcon::Question,
                                   PromptButtons::YesNo, PromptDefault::Safe)
                  == PromptAnswer::Yes;
        });
        return yes;
    }
};

} // namespace

SecurityPrompt &boxSecurityPrompt()
{
    static BoxSecurityPrompt boxes;
    return boxes;
}

} // namespace kestra
