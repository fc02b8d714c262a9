#include "service/JournalLine.h"

#include <QRegularExpression>

#include <array>

namespace {

struct Rule {
    QRegularExpression pattern;
    JournalPriority priority;
};

// The first rule that matches decides. Lines of the log calls come in
// parentheses; the OPC UA trace lines come bare.
const std::array<Rule, 6> &rules()
{
    using P = JournalPriority;
    static const std::array<Rule, 6> table{{
        // "(Startup Error: ...)", "(OnRead Event Error: ...)": the title names the failed action.
        {QRegularExpression(QStringLiteral(R"(^\((?:\w+ )+Error: )")), P::Error},
        {QRegularExpression(QStringLiteral(R"(^InitialUpdate\. Tag:.* Err:)")), P::Error},
        // The port line comes in the operator's language; its shape does not:
        // "(<cannot open> COM3. <protocol>:KV7  Error: ...)".
        {QRegularExpression(QStringLiteral(R"(^\(.*COM\d+\. .*  Error: |^\(COM\d+ .* closed: )"
                                           R"(|^\([^ /]+/[^ :]+: .*; using |^\(No usable language file )"
                                           R"(|^\(OPC-KV7: |^UA \S+ connection error )")),
         P::Warning},
        {QRegularExpression(QStringLiteral(R"(^\((?:Server initialization completed\.|Server Status: )"
                                           R"(|(?:Auto )?Session (?:opened|closed)\)))")),
         P::Info},
        {QRegularExpression(QStringLiteral(R"(^Client (?:connected|disconnected|refused); )")), P::Info},
        {QRegularExpression(QStringLiteral(R"(^UA (?:server started |connection from |clients asked to disconnect)"
                                           R"(|session |\S+ secure channel ))")),
         P::Info},
    }};
    return table;
}

} // namespace

JournalPriority journalPriority(const QString &traceLine)
{
    for (const Rule &rule : rules())
        if (rule.pattern.match(traceLine).hasMatch())
            return rule.priority;
    return JournalPriority::Debug;
}

QString journalLine(const QString &traceLine)
{
    QString line = traceLine;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QLatin1Char('<') + QString::number(int(journalPriority(traceLine))) + QLatin1Char('>') + line;
}
