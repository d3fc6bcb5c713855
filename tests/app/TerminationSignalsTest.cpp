// Termination signals reach the setup window as quit requests instead of ending the process.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <csignal>

#include "TerminationSignals.h"

namespace tessaly::testing {
namespace {

TEST(TerminationSignals, EachSignalBecomesAQuitRequestOnTheGuiThread) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        TerminationSignals quitSignals;
        int received = 0;
        QObject::connect(&quitSignals, &TerminationSignals::received, [&] { ++received; });

        ASSERT_EQ(::raise(signal), 0);  // without the handler, this ends the test program

        QDeadlineTimer deadline(10000);
        while (received == 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        EXPECT_EQ(received, 1) << signal;
    }
}

}  // namespace
}  // namespace tessaly::testing
