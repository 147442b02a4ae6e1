// What travels against the picture: tally, metadata and PTZ commands from
// receivers to the sender, connection metadata (web control, PTZ offer) from
// the sender to receivers, and the loss of a sender.
#include "NdiTestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace ndikit;

namespace {

std::string senderMetadata(const Sender& sender, uint32_t timeoutMs = 2000)
{
    NDIlib_metadata_frame_t frame;
    if (NDIlib_send_capture(sender.get(), &frame, timeoutMs) != NDIlib_frame_type_metadata)
        return {};
    std::string text = frame.p_data;
    EXPECT_EQ(frame.length, int(text.size() + 1));
    NDIlib_send_free_metadata(sender.get(), &frame);
    return text;
}

std::string receiverMetadata(const Receiver& receiver, uint32_t timeoutMs = 2000)
{
    NDIlib_metadata_frame_t frame;
    if (NDIlib_recv_capture_v2(receiver.get(), nullptr, nullptr, &frame, timeoutMs) != NDIlib_frame_type_metadata)
        return {};
    std::string text = frame.p_data;
    NDIlib_recv_free_metadata(receiver.get(), &frame);
    return text;
}

bool sendText(const Receiver& receiver, const char* text)
{
    NDIlib_metadata_frame_t frame;
    frame.p_data = const_cast<char*>(text);
    return NDIlib_recv_send_metadata(receiver.get(), &frame);
}

void announce(const Sender& sender, const char* text)
{
    NDIlib_metadata_frame_t frame;
    frame.p_data = const_cast<char*>(text);
    NDIlib_send_add_connection_metadata(sender.get(), &frame);
}

bool senderTallyIs(const Sender& sender, bool program, bool preview)
{
    return testsupport::waitFor([&] {
        NDIlib_tally_t tally;
        NDIlib_send_get_tally(sender.get(), &tally, 0);
        return tally.on_program == program && tally.on_preview == preview;
    });
}

std::string webControl(const Receiver& receiver)
{
    const char* url = NDIlib_recv_get_web_control(receiver.get());
    std::string out = url ? url : "";
    NDIlib_recv_free_string(receiver.get(), url);
    return out;
}

} // namespace

TEST(NdiControl, TallyMetadataAndPtzReachTheSender)
{
    ScopedRegistry registry;
    Sender sender = makeSender("Camera");
    Receiver receiver = makeReceiver("Camera");
    ASSERT_TRUE(connected(receiver));

    NDIlib_tally_t tally;
    tally.on_program = true;
    EXPECT_TRUE(NDIlib_recv_set_tally(receiver.get(), &tally));
    NDIlib_tally_t seen;
    ASSERT_TRUE(NDIlib_send_get_tally(sender.get(), &seen, 2000));
    EXPECT_TRUE(seen.on_program);
    EXPECT_FALSE(seen.on_preview);
    EXPECT_FALSE(NDIlib_send_get_tally(sender.get(), &seen, 20)) << "no change, no report";
    EXPECT_TRUE(seen.on_program) << "the current state is filled in all the same";

    EXPECT_TRUE(sendText(receiver, "<note text=\"hello\"/>"));
    EXPECT_EQ(senderMetadata(sender), "<note text=\"hello\"/>");

    EXPECT_FALSE(NDIlib_recv_ptz_is_supported(receiver.get()));
    EXPECT_FALSE(NDIlib_recv_ptz_zoom(receiver.get(), 0.5f)) << "not offered, not accepted";
    EXPECT_EQ(webControl(receiver), "");

    announce(sender, "<ndi_capabilities web_control=\"http://127.0.0.1:8080/\" ptz=\"true\"/>");
    ASSERT_TRUE(testsupport::waitFor([&] { return NDIlib_recv_ptz_is_supported(receiver.get()); }));
    EXPECT_EQ(webControl(receiver), "http://127.0.0.1:8080/");
    EXPECT_EQ(receiverMetadata(receiver), "<ndi_capabilities web_control=\"http://127.0.0.1:8080/\" ptz=\"true\"/>");

    NDIlib_recv_instance_t r = receiver.get();
    const std::pair<std::function<bool()>, std::string> commands[] = {
        { [r] { return NDIlib_recv_ptz_zoom(r, 0.5f); }, R"(<ptz_zoom zoom_value="0.5"/>)" },
        { [r] { return NDIlib_recv_ptz_zoom_speed(r, -1.0f); }, R"(<ptz_zoom_speed zoom_speed="-1"/>)" },
        { [r] { return NDIlib_recv_ptz_pan_tilt(r, 0.25f, -0.5f); },
            R"(<ptz_pan_tilt pan_value="0.25" tilt_value="-0.5"/>)" },
        { [r] { return NDIlib_recv_ptz_pan_tilt_speed(r, 0.1f, 0.2f); },
            R"(<ptz_pan_tilt_speed pan_speed="0.1" tilt_speed="0.2"/>)" },
        { [r] { return NDIlib_recv_ptz_store_preset(r, 3); }, R"(<ptz_store_preset preset_no="3"/>)" },
        { [r] { return NDIlib_recv_ptz_recall_preset(r, 7, 0.75f); },
            R"(<ptz_recall_preset preset_no="7" speed="0.75"/>)" },
        { [r] { return NDIlib_recv_ptz_auto_focus(r); }, R"(<ptz_auto_focus/>)" },
        { [r] { return NDIlib_recv_ptz_focus(r, 0.125f); }, R"(<ptz_focus focus_value="0.125"/>)" },
        { [r] { return NDIlib_recv_ptz_focus_speed(r, 1.0f); }, R"(<ptz_focus_speed focus_speed="1"/>)" },
        { [r] { return NDIlib_recv_ptz_white_balance_auto(r); }, R"(<ptz_white_balance_auto/>)" },
        { [r] { return NDIlib_recv_ptz_white_balance_indoor(r); }, R"(<ptz_white_balance_indoor/>)" },
        { [r] { return NDIlib_recv_ptz_white_balance_outdoor(r); }, R"(<ptz_white_balance_outdoor/>)" },
        { [r] { return NDIlib_recv_ptz_white_balance_oneshot(r); }, R"(<ptz_white_balance_oneshot/>)" },
        { [r] { return NDIlib_recv_ptz_white_balance_manual(r, 0.3f, 0.6f); },
            R"(<ptz_white_balance_manual red="0.3" blue="0.6"/>)" },
        { [r] { return NDIlib_recv_ptz_exposure_auto(r); }, R"(<ptz_exposure_auto/>)" },
        { [r] { return NDIlib_recv_ptz_exposure_manual(r, 0.9f); }, R"(<ptz_exposure_manual exposure_level="0.9"/>)" },
    };
    for (const auto& [call, element] : commands) {
        EXPECT_TRUE(call()) << element;
        EXPECT_EQ(senderMetadata(sender), element);
    }
}

TEST(NdiControl, SenderTallyCombinesItsReceiversAndForgetsThoseThatLeave)
{
    ScopedRegistry registry;
    Sender sender = makeSender("Shared");
    // Tally set before connecting travels with the connection.
    Receiver onPreview = makeReceiver("Nobody yet");
    NDIlib_tally_t preview;
    preview.on_preview = true;
    NDIlib_recv_set_tally(onPreview.get(), &preview);
    NDIlib_source_t source;
    source.p_ndi_name = "Shared";
    NDIlib_recv_connect(onPreview.get(), &source);
    Receiver onProgram = makeReceiver("Shared");
    NDIlib_tally_t program;
    program.on_program = true;
    NDIlib_recv_set_tally(onProgram.get(), &program);

    EXPECT_TRUE(senderTallyIs(sender, true, true));
    onPreview.reset();
    EXPECT_TRUE(senderTallyIs(sender, true, false));
    onProgram.reset();
    EXPECT_TRUE(senderTallyIs(sender, false, false));
}

TEST(NdiControl, LossOfTheSenderIsReportedOnceAndTheReceiverComesBack)
{
    ScopedRegistry registry;
    Sender sender = makeSender("Flaky");
    announce(sender, "<ndi_capabilities ptz=\"true\" web_control=\"http://127.0.0.1:1/\"/>");
    Receiver receiver = makeReceiver("Flaky");
    ASSERT_TRUE(connected(receiver));
    ASSERT_TRUE(testsupport::waitFor([&] { return NDIlib_recv_ptz_is_supported(receiver.get()); }));
    EXPECT_FALSE(receiverMetadata(receiver).empty());

    sender.reset();
    NDIlib_metadata_frame_t frame;
    EXPECT_EQ(NDIlib_recv_capture_v2(receiver.get(), nullptr, nullptr, &frame, 2000), NDIlib_frame_type_error);
    EXPECT_EQ(NDIlib_recv_capture_v2(receiver.get(), nullptr, nullptr, &frame, 0), NDIlib_frame_type_none);
    EXPECT_EQ(NDIlib_recv_get_no_connections(receiver.get()), 0);
    EXPECT_FALSE(NDIlib_recv_ptz_is_supported(receiver.get()));
    EXPECT_EQ(webControl(receiver), "") << "what a gone sender announced is forgotten";
    EXPECT_FALSE(sendText(receiver, "<lost/>"));

    Sender again = makeSender("Flaky");
    ASSERT_TRUE(connected(receiver));
    EXPECT_TRUE(sendText(receiver, "<back/>"));
    EXPECT_EQ(senderMetadata(again), "<back/>");
}

TEST(NdiControl, TestSourceInAnotherProcessMovesSoundsAndLogsWhatReachesIt)
{
    ScopedRegistry registry;
    TestSourceProcess source(1, "Far");
    ASSERT_TRUE(source.waitForLine("ready Far 1"));
    Receiver receiver = makeReceiver("Far 1");
    FrameSync sync(NDIlib_framesync_create(receiver.get()));
    ASSERT_TRUE(connected(receiver));
    ASSERT_TRUE(testsupport::waitFor([&] { return NDIlib_recv_ptz_is_supported(receiver.get()); }));

    NDIlib_tally_t tally;
    tally.on_program = tally.on_preview = true;
    NDIlib_recv_set_tally(receiver.get(), &tally);
    EXPECT_TRUE(sendText(receiver, "<hello/>"));
    EXPECT_TRUE(NDIlib_recv_ptz_pan_tilt(receiver.get(), 0.25f, -0.5f));
    EXPECT_TRUE(source.waitForLine("tally Far 1 program=1 preview=1"));
    EXPECT_TRUE(source.waitForLine("metadata Far 1 <hello/>"));
    EXPECT_TRUE(source.waitForLine(R"(ptz Far 1 <ptz_pan_tilt pan_value="0.25" tilt_value="-0.5"/>)"));

    // Moving pictures: the newest picture changes over time.
    std::vector<uint8_t> first;
    int64_t firstStamp = 0;
    ASSERT_TRUE(testsupport::waitFor([&] {
        NDIlib_video_frame_v2_t v;
        NDIlib_framesync_capture_video(sync.get(), &v, NDIlib_frame_format_type_progressive);
        if (v.p_data) {
            EXPECT_EQ(v.xres, 320);
            EXPECT_EQ(v.yres, 180);
            EXPECT_EQ(v.frame_rate_N / v.frame_rate_D, 30);
            std::vector<uint8_t> pixels(v.p_data, v.p_data + v.line_stride_in_bytes * v.yres);
            if (first.empty()) {
                first = std::move(pixels);
                firstStamp = v.timestamp;
            } else if (v.timestamp != firstStamp) {
                EXPECT_NE(pixels, first);
                NDIlib_framesync_free_video(sync.get(), &v);
                return true;
            }
        }
        NDIlib_framesync_free_video(sync.get(), &v);
        return false;
    }));

    // The tone: a block that ends on a sound sample (not padding) holds one
    // whole 1 kHz cycle at -20 dBFS.
    double level = 0;
    ASSERT_TRUE(testsupport::waitFor([&] {
        NDIlib_audio_frame_v2_t a;
        NDIlib_framesync_capture_audio(sync.get(), &a, 48000, 2, 48);
        const bool whole = a.p_data && a.p_data[47] != 0.0f;
        if (whole) {
            double sum = 0;
            for (int i = 0; i < 48; ++i)
                sum += double(a.p_data[i]) * a.p_data[i];
            level = std::sqrt(sum / 48);
        }
        NDIlib_framesync_free_audio(sync.get(), &a);
        return whole;
    }));
    EXPECT_NEAR(level, 0.7071, 0.7071 * 0.03);
}
