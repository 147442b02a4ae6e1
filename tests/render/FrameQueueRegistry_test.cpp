#include "media/FrameQueue.h"
#include "media/VideoFrame.h"
#include "render/PreviewFrame.h"
#include "render/ProgramFrame.h"

#include <gtest/gtest.h>

#include <vector>

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

namespace {

std::shared_ptr<VideoFrame> frameOf(std::vector<unsigned char>& bytes)
{
    return std::make_shared<VideoFrame>(bytes.data(), 4, 2, uint32_t(bytes.size()), 8);
}

} // namespace

// Nothing is held for a program nobody shows; once read, every frame
// replaces the last and the replaced one is let go at once.
TEST(FrameQueue, HoldsFramesOnlyOnceReadAndKeepsTheNewest)
{
    std::vector<unsigned char> bytes(16);
    FrameQueue queue;
    auto first = frameOf(bytes);
    std::weak_ptr<VideoFrame> watchFirst = first;
    queue.addNewFrame(std::move(first));
    EXPECT_TRUE(watchFirst.expired());
    EXPECT_FALSE(queue.getFrameData());

    auto second = frameOf(bytes);
    auto third = frameOf(bytes);
    std::weak_ptr<VideoFrame> watchSecond = second;
    queue.addNewFrame(second);
    EXPECT_EQ(queue.getFrameData(), second);
    EXPECT_EQ(queue.getFrameData(), second); // a fast reader gets it again
    second.reset();
    queue.addNewFrame(third);
    EXPECT_TRUE(watchSecond.expired());
    EXPECT_EQ(queue.getFrameData(), third);

    std::weak_ptr<VideoFrame> watchThird = third;
    third.reset();
    queue.destroy();
    EXPECT_TRUE(watchThird.expired());
    EXPECT_FALSE(queue.getFrameData());
}

TEST(FrameQueueRegistry, RemovedEntryStaysWithItsHoldersAndIsMadeAnew)
{
    std::vector<unsigned char> bytes(16);
    PreviewFrame::instance()->removeItem("no such program"); // changes nothing
    const auto held = PreviewFrame::instance()->getFrame("removed");
    held->getFrameData();
    held->addNewFrame(frameOf(bytes));
    PreviewFrame::instance()->removeItem("removed");
    EXPECT_TRUE(held->getFrameData());
    const auto fresh = PreviewFrame::instance()->getFrame("removed");
    EXPECT_NE(fresh, held);
    EXPECT_FALSE(fresh->getFrameData());
}
