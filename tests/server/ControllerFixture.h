#pragma once
// A test fixture over the running controller: the controller, its WebSocket
// server and the HTTPS routes are started once for the test program.
#include "ServerTestKit.h"

#include <gtest/gtest.h>

namespace servertest {

class ControllerFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_running = new RunningController;
        ASSERT_TRUE(s_running->listening());
    }
    static void TearDownTestSuite()
    {
        delete s_running;
        s_running = nullptr;
    }

    // The id of the program that is not among `before`, once the controller
    // has made it (adds are made on this thread); empty when none comes.
    static QString newProgram(const QStringList& before)
    {
        QString id;
        testsupport::waitFor([&] {
            for (const QString& known : BaseConfig::getInstance()->programIds())
                if (!before.contains(known))
                    id = known;
            return !id.isEmpty();
        });
        return id;
    }

    static inline RunningController* s_running = nullptr;
};

} // namespace servertest
