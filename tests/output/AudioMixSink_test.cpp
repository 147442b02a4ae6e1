#include "AudioMixSink.h"

#include <gtest/gtest.h>

#include <vector>

TEST(AudioMixSink, KeepsBytesOnlyWhileOpenAndAttached)
{
    AudioMixSink sink(1);
    sink.SetMixSource(48000, 2, 16, 10);
    EXPECT_EQ(sink.ringCapacity(), 307200); // 1.6 s of the mixers' format

    std::vector<char> block(3840, 7);
    EXPECT_EQ(sink.Write(nullptr, block.data(), int(block.size())), -1);
    sink.Open();
    EXPECT_EQ(sink.Write(nullptr, block.data(), int(block.size())), 3840);
    EXPECT_EQ(sink.Buffered(), 0); // detached: accepted and dropped
    sink.setDetached(false);
    EXPECT_EQ(sink.Write(nullptr, block.data(), int(block.size())), 3840);
    EXPECT_EQ(sink.Buffered(), 3840);
    sink.Close();
    EXPECT_EQ(sink.Write(nullptr, block.data(), int(block.size())), -1);
}

TEST(AudioMixSink, ReadsInOrderAcrossTheWrapAndEmptiesOnOverflow)
{
    AudioMixSink sink(1);
    sink.SetMixSource(1000, 1, 8, 1); // 160-byte ring
    sink.Open();
    sink.setDetached(false);

    std::vector<char> in(100), out(100);
    for (int round = 0; round < 3; ++round) { // the second and third rounds wrap around the end
        for (int i = 0; i < 100; ++i)
            in[i] = char(round * 100 + i);
        ASSERT_EQ(sink.Write(nullptr, in.data(), 100), 100);
        ASSERT_TRUE(sink.Read(out.data(), 100));
        EXPECT_EQ(out, in) << round;
    }
    EXPECT_FALSE(sink.Read(out.data(), 1)); // nothing buffered

    ASSERT_EQ(sink.Write(nullptr, in.data(), 100), 100);
    EXPECT_EQ(sink.Write(nullptr, in.data(), 100), 100); // does not fit: ring emptied, block dropped
    EXPECT_EQ(sink.Buffered(), 0);
}
