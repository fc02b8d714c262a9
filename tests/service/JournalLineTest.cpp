#include "service/JournalLine.h"

#include <gtest/gtest.h>

namespace {

// The lines as the program writes them, one or more of each kind, and near misses:
// an error word inside a line that is no failed action, a session line that is not
// alone in its parentheses, nothing at all.
TEST(JournalLine, EachKindOfTraceLineGetsItsPriorityInFrontOfTheWholeLine)
{
    using P = JournalPriority;
    const std::pair<const char *, JournalPriority> cases[] = {
        {"(Startup Error: Type mismatch)", P::Error},
        {"(Group Minimum Update Period Error: Overflow)", P::Error},
        {"InitialUpdate. Tag:C01.Z1.State Err:Duplicate name", P::Error},
        {"(Cannot open COM3. Protocol:KV7  Error: No such file or directory)", P::Warning},
        {"(No se puede abrir COM12. Protocolo:KV7  Error: Port already used by connection 1)", P::Warning},
        {"(COM2 /dev/ttyUSB0 closed: the device went away)", P::Warning},
        {"(COM2 /dev/serial/by-id/usb-FTDI-if00 open again)", P::Info},
        {"(OPC-KV7/UaPort: 70000 is no TCP port; using 4840)", P::Warning},
        {"(No usable language file (/var/lib/opc-kv7/OPC-KV7.LNG); the designed captions stay)", P::Warning},
        {"(OPC-KV7: Error writing to OPC-KV7.ini)", P::Warning},
        {"UA 127.0.0.1:50212 connection error BadTcpMessageTooLarge: chunk too large", P::Warning},
        {"(Server initialization completed.)", P::Info},
        {"(Server Status: Running)", P::Info},
        {"(Service status: frames C01 60, C02 0; 1 in communication error; 2 sessions, 3 subscriptions)", P::Info},
        {"(Auto Session opened)", P::Info},
        {"(Session closed)", P::Info},
        {"Client connected; clients: 1", P::Info},
        {"Client refused; clients: 0", P::Info},
        {"UA server started at opc.tcp://host:4840 with 478 items", P::Info},
        {"UA connection from 127.0.0.1:50212 closed", P::Info},
        {"UA 127.0.0.1:50212 secure channel 7 opened, token 1, lifetime 600000 ms", P::Info},
        {"UA session ns=1;i=3 \"client\" ended: closed by the client", P::Info},
        {"UA subscription 1 sends 3 data changes, sequence 9", P::Debug},
        {"Read of 4 items: 0x00000000", P::Debug},
        {"(Server Status: Error)", P::Info},
        {"UA Read of 2 attributes, 1 item values; Error: none", P::Debug},
        {"(Session opened by hand, then more)", P::Debug},
        {"Startup Error: without the parentheses of the log calls", P::Debug},
        {"", P::Debug},
    };
    for (const auto &[line, priority] : cases)
        EXPECT_EQ(journalLine(QString::fromUtf8(line)), QStringLiteral("<%1>%2").arg(int(priority)).arg(line)) << line;
    // A line break would start a journal entry without a priority.
    EXPECT_EQ(journalLine(QStringLiteral("(Startup Error: bad\r\nvalue\n)")),
              QStringLiteral("<3>(Startup Error: bad  value )"));
}

} // namespace
