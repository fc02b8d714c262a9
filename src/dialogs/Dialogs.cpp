#include "dialogs/Dialogs.h"

#include <cstdio>

namespace {
Dialogs::Handler &current()
{
    static Dialogs::Handler handler;
    return handler;
}
} // namespace

namespace Dialogs {

Handler setHandler(Handler handler)
{
    Handler previous = std::move(current());
    current() = std::move(handler);
    return previous;
}

Answer show(const Request &request)
{
    if (current())
        return current()(request);
    std::fprintf(stderr, "%s: %s\n", qPrintable(request.title), qPrintable(request.text));
    return {};
}

Request forNotice(const Log::Notice &notice)
{
    Request request;
    request.kind = notice.kind == Log::Notice::Kind::Standard ? Kind::StandardMessage : Kind::Message;
    request.title = notice.title;
    request.text = notice.text;
    request.icon = 3; // alert
    return request;
}

} // namespace Dialogs
