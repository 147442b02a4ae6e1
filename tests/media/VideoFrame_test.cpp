// Rendered frames keep their pool slot; received frames go back to the
// receiver that lent them, or free what they own.
#include "media/VideoFrame.h"
#include "sources/MediaFrameWrapper.h"

#include <gtest/gtest.h>

namespace {

struct CountingInstance : MediaInstance_t {
    int videoFreed = 0;
    int audioFreed = 0;
    void FreeFrame(Media_video_frame_t* frame) override
    {
        ++videoFreed;
        delete[] frame->p_data; // the test lent it from the heap
    }
    void FreeFrame(Media_audio_frame_t* frame) override
    {
        ++audioFreed;
        delete[] frame->p_data;
    }
};

} // namespace

TEST(VideoFrame, FrameRateIsWholeFramesAndZeroWithoutDenominator)
{
    struct Case {
        int n, d, fps;
    };
    for (const Case c : { Case { 60000, 1000, 60 }, Case { 30000, 1001, 29 }, Case { 25, 1, 25 }, Case { 60, 0, 0 },
             Case { 60, -1, 0 }, Case { 0, 0, 0 } }) {
        VideoFrame frame;
        frame.setFrameRate(c.n, c.d);
        EXPECT_EQ(frame.getFrameRate(), c.fps) << c.n << "/" << c.d;
    }
    unsigned char pixels[8] = {};
    const VideoFrame frame(pixels, 2, 2, 8, 4);
    EXPECT_EQ(frame.data(), pixels);
    EXPECT_EQ(frame.size(), 8u);
    EXPECT_EQ(frame.stride(), 4u);
    EXPECT_EQ(frame.getFrameRate(), 0) << "no rate until one is set";
    EXPECT_EQ(VideoFrame().data(), nullptr);
}

TEST(VideoFrame, ReplacingOrDroppingTheBufferReleasesTheSlotAtOnce)
{
    // Stand-ins for pool slots: the frame holds shares of them.
    auto slotA = std::make_shared<int>(1);
    auto slotB = std::make_shared<int>(2);
    auto frame = std::make_shared<VideoFrame>();
    frame->setBuffer(std::shared_ptr<_PboImageAvailablePtr>(slotA, nullptr));
    EXPECT_EQ(slotA.use_count(), 2);
    frame->setBuffer(std::shared_ptr<_PboImageAvailablePtr>(slotB, nullptr));
    EXPECT_EQ(slotA.use_count(), 1) << "the previous slot is free again";
    EXPECT_EQ(slotB.use_count(), 2);
    frame.reset();
    EXPECT_EQ(slotB.use_count(), 1);
}

TEST(VideoFrame, ReceivedPicturesGoBackToTheirLenderOrFreeTheirOwnPixels)
{
    auto lender = std::make_shared<CountingInstance>();
    {
        Media_video_frame_t lent;
        lent.p_data = new uint8_t[16];
        auto frame = std::make_shared<MediaFrameWrapper<Media_video_frame_t, MediaInstancePtr>>(lender, lent);
        VideoFramePtr other = frame;
        frame.reset();
        EXPECT_EQ(lender->videoFreed, 0) << "still shared";
    }
    EXPECT_EQ(lender->videoFreed, 1);
    {
        // An empty picture (no pixels yet) is not handed back.
        VideoFramePtr empty = std::make_shared<MediaFrameWrapper<Media_video_frame_t, MediaInstancePtr>>(
            lender, Media_video_frame_t {});
    }
    EXPECT_EQ(lender->videoFreed, 1);
    {
        // A picture the program made itself owns its pixels; the leak checker
        // of the sanitizer build sees if they are not freed.
        Media_video_frame_t own;
        own.p_data = new uint8_t[16];
        VideoFramePtr mine = std::make_shared<MediaFrameWrapper<Media_video_frame_t, MediaInstancePtr>>(nullptr, own);
    }
    EXPECT_EQ(lender.use_count(), 1) << "frames let go of their lender";
}

TEST(VideoFrame, ReceivedSoundFreesBothSampleForms)
{
    auto lender = std::make_shared<CountingInstance>();
    {
        Media_audio_frame_t lent;
        lent.p_data = new float[4];
        lent.p_data_s16 = new int16_t[4];
        AudioFramePtr frame = std::make_shared<AudioFrameWrapper<Media_audio_frame_t, MediaInstancePtr>>(lender, lent);
    }
    EXPECT_EQ(lender->audioFreed, 1);
    {
        Media_audio_frame_t own;
        own.p_data = new float[4];
        own.p_data_s16 = new int16_t[4];
        AudioFramePtr frame = std::make_shared<AudioFrameWrapper<Media_audio_frame_t, MediaInstancePtr>>(nullptr, own);
    }
    EXPECT_EQ(lender->audioFreed, 1);
}
