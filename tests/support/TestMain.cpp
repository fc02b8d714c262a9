#include <QApplication>
#include <gtest/gtest.h>

// Every test program runs inside a QApplication on the offscreen platform, so real
// widgets, timers and sockets work as they do in the server.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
