#include "app/SecurityPrompt.h"

#include "common/UserPrompt.h"
#include "mail/ServerSecurity.h"

namespace kestra {

namespace {

class BoxSecurityPrompt final : public SecurityPrompt
{
public:
    bool ask(const QString &text, const QString &title, bool warning) override
    {
        return prompt().message(text, title, warning ? PromptIcon::Exclamation : PromptIcon::Question,
                                PromptButtons::YesNo)
               == PromptAnswer::Yes;
    }
};

} // namespace

void installSecurityPrompt()
{
    static BoxSecurityPrompt boxes;
    setSecurityPrompt(&boxes);
}

} // namespace kestra
