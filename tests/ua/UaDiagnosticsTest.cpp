// SessionAbortCount: sessions the server ends itself for a reason other than their
// time-out (given up for a new client, or the server stopping).
#include "UaFixture.h"

using namespace Ua;

TEST(UaDiagnostics, SessionsTheServerEndsAreAborts)
{
    UaCore ua;
    ua.config.maxSessions = 1;
    ua.start();
    EXPECT_EQ(ua.channel().createSession(), Status::Good); // never activated
    EXPECT_EQ(ua.channel().createSession(), Status::Good); // the first one is given up for it
    EXPECT_EQ(ua.core->diagnosticsSummary().sessionAbortCount, 1u);
    ua.core->stop();
    EXPECT_EQ(ua.core->diagnosticsSummary().sessionAbortCount, 2u);
}
