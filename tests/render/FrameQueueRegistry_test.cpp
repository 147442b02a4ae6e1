#include "FrameQueue.h"
#include "PreviewFrame.h"
#include "ProgramFrame.h"

#include <gtest/gtest.h>

namespace {

// The take and the bus tiles of one program must meet on the same queues,
// and the preview and program queues of a program must stay apart.
TEST(FrameQueueRegistry, OneQueuePerProgramAndBus)
{
    const auto pvw = PreviewFrame::instance()->getFrame("1");
    ASSERT_TRUE(pvw);
    EXPECT_EQ(PreviewFrame::instance()->getFrame("1"), pvw);
    EXPECT_NE(PreviewFrame::instance()->getFrame("2"), pvw);
    const auto pgm = ProgramFrame::instance()->getFrame("1");
    EXPECT_NE(pgm, pvw);

    pvw->setTakeState(true);
    pvw->setIsTaking(true);
    EXPECT_TRUE(PreviewFrame::instance()->getFrame("1")->getTakeState());
    EXPECT_TRUE(PreviewFrame::instance()->getFrame("1")->getIsTaking());
    EXPECT_FALSE(pgm->getTakeState());
    EXPECT_FALSE(pgm->getIsTaking());
}

} // namespace
