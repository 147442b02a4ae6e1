// What a tile hands its render node: frames taken once each, older frames
// dropped, whether anything it draws changed, and the pass callback that never runs on an item once the item
// has cleared or disabled it, even while a pass is running on the render
// thread.
#include "media/VideoFrame.h"
#include "render/RenderNodeInput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

VideoFramePtr received(int64_t timecode, int64_t timestamp = 0)
{
    Media_video_frame_t record;
    record.timecode = timecode;
    record.timestamp = timestamp;
    return std::make_shared<MediaFrameWrapper<Media_video_frame_t, MediaInstancePtr>>(nullptr, record);
}

} // namespace

TEST(RenderNodeInput, FramesAreTakenOnceAndOlderOnesAreDropped)
{
    RenderNodeInput input;
    const VideoFramePtr newer = received(20);
    input.setVideo(newer);
    input.setVideo(received(10)); // older than the one waiting
    input.setVideo(received(20, 5)); // same timecode, but the waiting one has no later stamp
    RenderNodeInput::Frames frames = input.takeFrames();
    ASSERT_TRUE(frames.current);
    EXPECT_EQ(frames.current->frame.timestamp, 5);
    EXPECT_EQ(frames.currentState, RenderNodeInput::kSet);
    frames = input.takeFrames();
    EXPECT_FALSE(frames.current); // uploaded once
    EXPECT_EQ(frames.currentState, RenderNodeInput::kSet); // the picture stays

    input.clearPicture();
    frames = input.takeFrames();
    EXPECT_EQ(frames.currentState, RenderNodeInput::kCleared);
    EXPECT_EQ(frames.nextState, RenderNodeInput::kCleared);
    EXPECT_EQ(frames.renderedState, RenderNodeInput::kCleared);
}

// The window draws again only when an input changed: a new or cleared
// picture or another look changes it; the same picture or look again does
// not (a bus tile hands in the holder's picture on every pass).
TEST(RenderNodeInput, TellsWhetherWhatTheNodeDrawsChanged)
{
    RenderNodeInput input;
    const VideoFramePtr frame = received(1);
    const auto busFrame = std::make_shared<VideoFrame>(nullptr, 0, 0, 0, 0);
    RenderOptions tally;
    tally.tallyState = 2;
    struct Step {
        const char* what;
        std::function<void()> apply;
        bool changes;
    };
    const std::vector<Step> steps {
        { "a received picture", [&] { input.setVideo(frame); }, true },
        { "the same picture again", [&] { input.setVideo(frame); }, false },
        { "a newer picture", [&] { input.setVideo(received(2)); }, true },
        { "a next picture", [&] { input.setNextVideo(received(3)); }, true },
        { "a bus picture", [&] { input.setVideo(busFrame); }, true },
        { "the same bus picture", [&] { input.setVideo(busFrame); }, false },
        { "black", [&] { input.clearPicture(); }, true },
        { "black again", [&] { input.clearPicture(); }, false },
        { "a transition step", [&] { input.setAlpha(0.5f); }, true },
        { "the same step", [&] { input.setAlpha(0.5f); }, false },
        { "another angle", [&] { input.setAngle(90); }, true },
        { "another transition", [&] { input.setTransitionEffect(4); }, true },
        { "tally corners", [&] { input.setOption(tally); }, true },
        { "the same options", [&] { input.setOption(tally); }, false },
    };
    EXPECT_TRUE(input.takeChanged()) << "nothing was drawn yet";
    for (const Step& step : steps) {
        step.apply();
        input.takeFrames();
        EXPECT_EQ(input.takeChanged(), step.changes) << step.what;
    }
}

// The render thread keeps running passes; the item side clears its callback
// and frees what the callback uses at once. A pass that ran after the clear,
// or was still running when the clear returned, would touch freed memory.
TEST(RenderNodeInput, NoPassRunsOnAnItemOnceItsCallbackIsClearedOrDisabled)
{
    for (int round = 0; round < 20; ++round) {
        auto input = std::make_shared<RenderNodeInput>();
        auto item = std::make_unique<std::atomic<int>>(0);
        std::atomic<int>* raw = item.get();
        input->setPassCallback([raw] {
            raw->fetch_add(1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            raw->fetch_add(1);
        });
        std::atomic<bool> stop { false };
        std::thread renderThread([&] {
            while (!stop)
                input->runPass();
        });
        while (item->load() < 4)
            std::this_thread::yield();

        if (round % 2 == 0) {
            input->disablePass();
            const int frozen = item->load();
            EXPECT_EQ(frozen % 2, 0) << "a pass was still running";
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            EXPECT_EQ(item->load(), frozen);
        }
        input->clearPassCallback();
        EXPECT_EQ(item->load() % 2, 0);
        item.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stop = true;
        renderThread.join();
    }
}
