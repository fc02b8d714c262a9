// The server without a window, in this process: what its status line counts.
#include "shell/ServiceMode.h"
#include "ShellFixture.h"

namespace {

TEST(ServiceMode, TheStatusLineCountsEachLinesFramesSinceTheLastOne)
{
    TempAppFolder folder;
    folder.installLanguageFile();
    PtyPair line;
    folder.write("OPC-KV7.ini", crlf("[OPC-KV7]\nUaPort=0\n[Ports]\nCOM1=" + line.slavePath().toLatin1() + "\n"));
    folder.write("KV7.ini", crlf("[KV7]\nC1-On=1\nC1-Com=1\nC2-On=1\nC2-Com=0\n"));
    ServiceMode service;
    ASSERT_EQ(service.start({"opc-kv7", "--service"}), MainOPC::LoadResult::Running);
    OPCServer &opc = service.server().server();
    // Two frames and a line that is no frame: C01 leaves its communication error.
    ASSERT_TRUE(line.write("W11 1OF\rX\rW11 2OF\r"));
    ASSERT_TRUE(waitFor([&] { return opc.Tags().find("C01.Error_Comm")->Value().toString() == "0"; }));
    EXPECT_EQ(service.statusLine(),
              "Service status: frames C01 2, C02 0; 1 in communication error; 0 sessions, 0 subscriptions");
    ASSERT_TRUE(line.write("W11 1OF\r"));
    ASSERT_TRUE(waitFor([&] { return line.waitingOnSlave() == 0; }));
    settle();
    EXPECT_EQ(service.statusLine(),
              "Service status: frames C01 1, C02 0; 1 in communication error; 0 sessions, 0 subscriptions");
}

} // namespace
