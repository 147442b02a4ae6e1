// The frame guard of a WebSocket connection on hand-written input: the
// upgrade head, then frames of every length form, given in pieces of any
// size.
#include "server/WebSocketFrameGuard.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr quint64 kCap = 1000;

QByteArray head(quint8 first, quint64 length, bool masked = true)
{
    QByteArray out(1, char(first));
    const char mask = masked ? char(0x80) : char(0);
    if (length < 126) {
        out.append(char(mask | char(length)));
    } else if (length <= 0xffff) {
        out.append(char(mask | 126)).append(char(length >> 8)).append(char(length & 0xff));
    } else {
        out.append(char(mask | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            out.append(char((length >> shift) & 0xff));
    }
    return masked ? out.append("\x01\x02\x03\x04", 4) : out;
}

QByteArray frame(quint8 first, quint64 length)
{
    return head(first, length).append(QByteArray(int(length), 'p'));
}

TEST(WebSocketFrameGuard, RefusesFromTheHeadOfAFrameOrMessageOverTheCap)
{
    const QByteArray upgrade = "GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\n\r\n";
    struct Case {
        const char* name;
        QByteArray frames; // after the upgrade head
        bool taken;
    };
    const std::vector<Case> cases {
        { "small frames", frame(0x81, 5) + frame(0x82, 0) + frame(0x89, 125), true },
        { "16-bit length at the cap", frame(0x82, kCap), true },
        { "16-bit length over the cap, head only", head(0x82, kCap + 1), false },
        { "64-bit length, head only", head(0x82, 100000000), false },
        { "64-bit length with the top bit set", head(0x82, quint64(1) << 63), false },
        { "unmasked (the WebSocket layer judges it)", head(0x81, 3, false) + "abc", true },
        { "fragments up to the cap", frame(0x01, 600) + frame(0x89, 10) + frame(0x80, 400), true },
        { "fragments over the cap", frame(0x01, 600) + head(0x80, 401), false },
        { "a new message after a finished one", frame(0x81, 600) + frame(0x81, 600), true },
        { "payload bytes that look like a head are skipped",
            head(0x81, 10) + head(0x82, 100000000).left(10) + frame(0x81, 1), true },
    };
    for (const Case& c : cases) {
        const QByteArray input = upgrade + c.frames;
        // Whole, and byte by byte: a head split over pieces is read the same.
        for (const int piece : { int(input.size()), 1, 7 }) {
            WebSocketFrameGuard guard(kCap);
            bool taken = true;
            for (int at = 0; at < input.size() && taken; at += piece)
                taken = guard.take(input.constData() + at, qMin(piece, input.size() - at));
            EXPECT_EQ(taken, c.taken) << c.name << ", pieces of " << piece;
            if (!c.taken) {
                EXPECT_FALSE(guard.take("x", 1)) << c.name << ": refused stays refused";
            }
        }
    }
}

TEST(WebSocketFrameGuard, TheUpgradeHeadIsNotReadAsFrames)
{
    // The head's bytes would declare a huge frame if read as one.
    WebSocketFrameGuard guard(kCap);
    const QByteArray line = "GET /\x7f\x7f HTTP/1.1\r\n";
    EXPECT_TRUE(guard.take(line.constData(), line.size()));
    EXPECT_TRUE(guard.take("\r", 1));
    EXPECT_TRUE(guard.take("\n", 1));
    const QByteArray over = head(0x82, kCap + 1);
    EXPECT_FALSE(guard.take(over.constData(), over.size()));
    EXPECT_EQ(guard.refusedLength(), kCap + 1);
}

} // namespace
