#include "service/JournalLine.h"

#include <QRegularExpression>

#include <iterator>
#include <vector>

namespace {

struct Rule {
    const char *pattern;
    JournalPriority priority;
};

// The first rule that matches decides. Lines of the log calls come in
// parentheses; the OPC UA trace lines come bare.
constexpr Rule Rules[] = {
    // "(Startup Error: ...)", "(OnRead Event Error: ...)": the title names the failed action.
    {R"(^\((?:\w+ )+Error: )", JournalPriority::Error},
    {R"(^InitialUpdate\. Tag:.* Err:)", JournalPriority::Error},
    // A port that does not open, in the operator's language but of a fixed
    // shape: "(<cannot open> COM3. <protocol>:KV7  Error: ...)"; one that went away.
    {R"(^\(.*COM\d+\. .*  Error: )", JournalPriority::Warning},
    {R"(^\(COM\d+ .* closed: )", JournalPriority::Warning},
    {R"(^\(COM\d+ .* open again\)$)", JournalPriority::Info},
    // Start-up falls back: "(Section/Key: why; using value)", no language file.
    {R"(^\([^ /]+/[^ :]+: .*; using )", JournalPriority::Warning},
    {R"(^\(No usable language file )", JournalPriority::Warning},
    // Notices for the operator: an INI file that cannot be written, a bad language file.
    {R"(^\(OPC-KV7: )", JournalPriority::Warning},
    // A client cut off for breaking the protocol.
    {R"(^UA \S+ connection error )", JournalPriority::Warning},
    // The server's state, operator sessions, OPC UA clients, channels and sessions.
    {R"(^\((?:Server initialization completed\.|Server Status: |Service status: |(?:Auto )?Session (?:opened|closed)\)))",
     JournalPriority::Info},
    {R"(^Client (?:connected|disconnected|refused); )", JournalPriority::Info},
    {R"(^UA (?:server started |connection from |clients asked to disconnect|session |\S+ secure channel ))",
     JournalPriority::Info},
};

const std::vector<QRegularExpression> &patterns()
{
    static const std::vector<QRegularExpression> compiled = [] {
        std::vector<QRegularExpression> list;
        for (const Rule &rule : Rules)
            list.emplace_back(QString::fromLatin1(rule.pattern));
        return list;
    }();
    return compiled;
}

} // namespace

JournalPriority journalPriority(const QString &traceLine)
{
    for (std::size_t i = 0; i < std::size(Rules); ++i)
        if (patterns()[i].match(traceLine).hasMatch())
            return Rules[i].priority;
    return JournalPriority::Debug;
}

QString journalLine(const QString &traceLine)
{
    QString line = traceLine;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QLatin1Char('<') + QString::number(int(journalPriority(traceLine))) + QLatin1Char('>') + line;
}
