#include "service/JournalLine.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char *line;
    JournalPriority priority;
};

// The lines as the program writes them, one or more of each kind.
const Case cases[] = {
    {"(Startup Error: Type mismatch)", JournalPriority::Error},
    {"(Group Minimum Update Period Error: Overflow)", JournalPriority::Error},
    {"InitialUpdate. Tag:C01.Z1.State Err:Duplicate name", JournalPriority::Error},
    {"(Cannot open COM3. Protocol:KV7  Error: No such file or directory)", JournalPriority::Warning},
    {"(No se puede abrir COM12. Protocolo:KV7  Error: Port already used by connection 1)", JournalPriority::Warning},
    {"(COM2 /dev/ttyUSB0 closed: the device went away)", JournalPriority::Warning},
    {"(COM2 /dev/serial/by-id/usb-FTDI-if00 open again)", JournalPriority::Info},
    {"(OPC-KV7/UaPort: 70000 is no TCP port; using 4840)", JournalPriority::Warning},
    {"(No usable language file (/var/lib/opc-kv7/OPC-KV7.LNG); the designed captions stay)", JournalPriority::Warning},
    {"(OPC-KV7: Error writing to OPC-KV7.ini)", JournalPriority::Warning},
    {"UA 127.0.0.1:50212 connection error BadTcpMessageTooLarge: chunk too large", JournalPriority::Warning},
    {"(Server initialization completed.)", JournalPriority::Info},
    {"(Server Status: Running)", JournalPriority::Info},
    {"(Service status: frames C01 60, C02 0; 1 in communication error; 2 sessions, 3 subscriptions)",
     JournalPriority::Info},
    {"(Auto Session opened)", JournalPriority::Info},
    {"(Session closed)", JournalPriority::Info},
    {"Client connected; clients: 1", JournalPriority::Info},
    {"Client refused; clients: 0", JournalPriority::Info},
    {"UA server started at opc.tcp://host:4840 with 478 items", JournalPriority::Info},
    {"UA connection from 127.0.0.1:50212 closed", JournalPriority::Info},
    {"UA 127.0.0.1:50212 secure channel 7 opened, token 1, lifetime 600000 ms", JournalPriority::Info},
    {"UA session ns=1;i=3 \"client\" ended: closed by the client", JournalPriority::Info},
    {"UA subscription 1 sends 3 data changes, sequence 9", JournalPriority::Debug},
    {"Read of 4 items: 0x00000000", JournalPriority::Debug},
    // Near misses: an error word inside a line that is no failed action, a
    // session line that is not alone in its parentheses, nothing at all.
    {"(Server Status: Error)", JournalPriority::Info},
    {"UA Read of 2 attributes, 1 item values; Error: none", JournalPriority::Debug},
    {"(Session opened by hand, then more)", JournalPriority::Debug},
    {"Startup Error: without the parentheses of the log calls", JournalPriority::Debug},
    {"", JournalPriority::Debug},
};

TEST(JournalLine, EachKindOfTraceLineGetsItsPriority)
{
    for (const Case &c : cases)
        EXPECT_EQ(int(journalPriority(QString::fromUtf8(c.line))), int(c.priority)) << c.line;
}

TEST(JournalLine, PrefixesThePriorityAndKeepsTheLineWhole)
{
    EXPECT_EQ(journalLine(QStringLiteral("(Startup Error: x)")), QStringLiteral("<3>(Startup Error: x)"));
    EXPECT_EQ(journalLine(QStringLiteral("(COM1 /dev/ttyS0 closed: gone)")),
              QStringLiteral("<4>(COM1 /dev/ttyS0 closed: gone)"));
    EXPECT_EQ(journalLine(QStringLiteral("(Session closed)")), QStringLiteral("<6>(Session closed)"));
    EXPECT_EQ(journalLine(QStringLiteral("(Startup Error: bad\r\nvalue\n)")),
              QStringLiteral("<3>(Startup Error: bad  value )"));
    EXPECT_EQ(journalLine(QString()), QStringLiteral("<7>"));
}

} // namespace
