#include "ui/Dialogs.h"

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
    Answer answer;
    answer.input = request.defaultInput;
    return answer;
}

} // namespace Dialogs
