#include "shell/SignalClose.h"
#include "shell/MainOPC.h"
#include "shell/TerminationSignals.h"

#include <memory>

void closeOnSignals(TerminationSignals &terminations, MainOPC &server, std::function<void()> onFirst)
{
    auto noticeGiven = std::make_shared<bool>(false);
    QObject::connect(&terminations, &TerminationSignals::received, &server, [&server, noticeGiven, onFirst](int) {
        if (!*noticeGiven) {
            *noticeGiven = true;
            if (onFirst)
                onFirst();
            if (OPCFrontEnd *frontEnd = server.server().frontEnd()) {
                frontEnd->announceShutdown(ShutdownNoticeSeconds);
                QTimer::singleShot(ShutdownNoticeSeconds * 1000, &server,
                                   [&server] { server.requestClose(MainOPC::UnloadMode::SystemSession); });
                return;
            }
        }
        server.requestClose(MainOPC::UnloadMode::SystemSession);
    });
}
