// The windows' network outputs over the stand-in backend: a receiver of a
// window's output gets its pictures (VideoFrames over plain memory), its
// sound and its web-control address; the sender is made lazily and made
// again when it must be; the configuration text and the parameter file.
#include "../ndi/NdiTestKit.h"

#include "LogCapture.h"
#include "TestSupport.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "media/VideoFrame.h"
#include "output/MediaOutputManager.h"
#include "output/NdiOutputStream.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

using namespace ndikit;

namespace {

std::shared_ptr<VideoFrame> frameOver(Picture& picture, int fps = 30)
{
    auto frame = std::make_shared<VideoFrame>(picture.bytes.data(), uint32_t(picture.width), uint32_t(picture.height),
        uint32_t(picture.bytes.size()), uint32_t(picture.stride));
    frame->setFrameRate(fps * 1000, 1000);
    return frame;
}

std::string webControl(const Receiver& receiver)
{
    const char* url = NDIlib_recv_get_web_control(receiver.get());
    std::string out = url ? url : "";
    NDIlib_recv_free_string(receiver.get(), url);
    return out;
}

// Sends the picture filled with value through the manager until the
// receiver's synchroniser shows it.
// (Asking for the connections lets the receiver find a sender that came later.)
bool arrives(const QString& pro, const QString& win, const QString& name, const Receiver& receiver,
    const FrameSync& sync, uint8_t value)
{
    Picture picture(320, 180);
    std::fill(picture.bytes.begin(), picture.bytes.end(), value);
    return testsupport::waitFor([&] {
        MediaOutputManager::instance().sendNDIVideo(pro, win, frameOver(picture), name, NDIlib_FourCC_video_type_UYVY);
        NDIlib_recv_get_no_connections(receiver.get());
        NDIlib_video_frame_v2_t frame;
        NDIlib_framesync_capture_video(sync.get(), &frame, NDIlib_frame_format_type_progressive);
        const bool match = frame.p_data && frame.p_data[0] == value && frame.xres == 320 && frame.yres == 180;
        NDIlib_framesync_free_video(sync.get(), &frame);
        return match;
    });
}

QString windowsFolder(const QString& pro)
{
    return g_savePath + "/programs/program_" + pro + "/windows";
}

QJsonObject params(const QString& pro, const QString& win, const QString& type, int ttl = 127)
{
    return { { "pro_id", pro }, { "win_id", win }, { "connection_type", type }, { "netprefix", "239.255.0.0" },
        { "netmask", "255.255.0.0" }, { "ttl", ttl }, { "group", QJsonArray { "a", QJsonValue(), "b" } },
        { "discovery_enable", false }, { "discovery_ip", "" } };
}

class NdiOutputTest : public ::testing::Test {
protected:
    testsupport::TempHome home;
    ScopedRegistry registry;
    MediaOutputManager& manager = MediaOutputManager::instance();
};

} // namespace

TEST_F(NdiOutputTest, AReceiverOfAWindowOutputGetsItsPicturesSoundAndWebControl)
{
    const QString url = "https://127.0.0.1:81/?program=31";
    manager.setWebControl("31", "2", url);
    ASSERT_TRUE(manager.stream("31", "2"));

    // Nothing is created for a window without a stream; nothing is sent while disabled.
    Picture picture(320, 180);
    manager.sendNDIVideo("31", "9", frameOver(picture), "Nobody", NDIlib_FourCC_video_type_UYVY);
    EXPECT_FALSE(manager.stream("31", "9"));
    manager.sendNDIVideo("31", "2", frameOver(picture), "Studio (Wall)", NDIlib_FourCC_video_type_UYVY);
    EXPECT_FALSE(manager.stream("31", "2")->hasSender());

    // Audio before the first picture makes no sender either.
    manager.setNDIEnable("31", "2", true);
    std::vector<short> block(480 * 2, 8000);
    manager.sendNDIAudio("31", "2", block.data(), 480, 2, 48000);
    EXPECT_FALSE(manager.stream("31", "2")->hasSender());

    Receiver receiver = makeReceiver("Studio (Wall)");
    FrameSync sync(NDIlib_framesync_create(receiver.get()));
    ASSERT_TRUE(arrives("31", "2", "Studio (Wall)", receiver, sync, 0x40));
    ASSERT_TRUE(arrives("31", "2", "Studio (Wall)", receiver, sync, 0x80));
    EXPECT_TRUE(testsupport::waitFor([&] { return webControl(receiver) == url.toStdString(); }));

    // Sound flows once the sender exists.
    EXPECT_TRUE(testsupport::waitFor([&] {
        manager.sendNDIAudio("31", "2", block.data(), 480, 2, 48000);
        NDIlib_audio_frame_v2_t audio;
        NDIlib_framesync_capture_audio(sync.get(), &audio, 48000, 2, 480);
        const bool heard = audio.p_data && audio.p_data[479] > 0.1f;
        NDIlib_framesync_free_audio(sync.get(), &audio);
        return heard;
    }));
    // Bad blocks are ignored.
    manager.sendNDIAudio("31", "2", nullptr, 480, 2, 48000);
    manager.sendNDIAudio("31", "2", block.data(), 0, 2, 48000);

    // New network settings make the sender again with the next picture.
    {
        ASSERT_TRUE(QDir().mkpath(windowsFolder("31")));
        testsupport::LogCapture log;
        ASSERT_TRUE(manager.setNDIParams("31", "2", params("31", "2", "multicast", 9)));
        ASSERT_TRUE(arrives("31", "2", "Studio (Wall)", receiver, sync, 0x50));
        EXPECT_TRUE(log.contains("destroy ndi send. "));
    }

    // A sender that cannot be made costs that picture only (this backend
    // refuses an empty name); sound still returns at once, and the next
    // picture tries again.
    manager.sendNDIVideo("31", "2", frameOver(picture), "", NDIlib_FourCC_video_type_UYVY);
    EXPECT_FALSE(manager.stream("31", "2")->hasSender());
    manager.sendNDIAudio("31", "2", block.data(), 480, 2, 48000);
    ASSERT_TRUE(arrives("31", "2", "Studio (Wall)", receiver, sync, 0x60));

    // A new output name makes the sender again under that name.
    {
        testsupport::LogCapture log;
        Receiver renamed = makeReceiver("Studio (Wall 2)");
        FrameSync renamedSync(NDIlib_framesync_create(renamed.get()));
        ASSERT_TRUE(arrives("31", "2", "Studio (Wall 2)", renamed, renamedSync, 0x30));
        EXPECT_TRUE(log.contains("destroy ndi send. "));
        EXPECT_TRUE(testsupport::waitFor([&] { return NDIlib_recv_get_no_connections(receiver.get()) == 0; }));
    }

    // Disabling flushes and ends the sender; enabling needs a new picture.
    manager.setNDIEnable("31", "2", false);
    EXPECT_FALSE(manager.stream("31", "2")->hasSender());
    manager.setNDIEnable("31", "2", true);
    EXPECT_FALSE(manager.stream("31", "2")->hasSender());

    manager.removeItem("31", "2");
    EXPECT_FALSE(manager.stream("31", "2"));
    manager.setNDIEnable("31", "2", true); // a removed window is ignored
    EXPECT_EQ(manager.getNDIParams("31", "2"), (QJsonObject { { "result", "error" } }));
    EXPECT_FALSE(manager.setNDIParams("31", "2", params("31", "2", "multicast")));
}

TEST_F(NdiOutputTest, ConfigurationTextFollowsTheSettingsAndIsValidJson)
{
    ASSERT_TRUE(QDir().mkpath(windowsFolder("32")));
    NdiOutputStream stream("32", "1");
    struct Case {
        QJsonObject params;
        QString adapter;
        QString text;
    } cases[] = {
        { params("32", "1", "Default"), "",
            R"({"ndi": {"rudp": {"send": {"enable": false}}, "tcp": {"send": {"enable": true}}, )"
            R"("unicast": {"send": {"enable": true}}, "multicast": {"send": {"enable": false}}}})" },
        { params("32", "1", "no_multi_tcp"), "",
            R"({"ndi": {"rudp": {"send": {"enable": false}}, "tcp": {"send": {"enable": false}}, )"
            R"("unicast": {"send": {"enable": true}}, "multicast": {"send": {"enable": false}}}})" },
        { params("32", "1", "multicast"), "",
            R"({"ndi": {"rudp": {"send": {"enable": false}}, "tcp": {"send": {"enable": false}}, )"
            R"("unicast": {"send": {"enable": false}}, "multicast": {"send": {"enable": true, )"
            R"("netprefix": "239.255.0.0", "netmask": "255.255.0.0", "ttl": 127}}}})" },
        { params("32", "1", "unicast"), "", R"({"ndi": {}})" },
        { QJsonObject {
              { "connection_type", "x" }, { "discovery_enable", true }, { "discovery_ip", "10.0.0.1\"}, \"x\": {\"" } },
            "192.168.1.5",
            R"({"ndi": {"networks": {"discovery": "10.0.0.1\"}, \"x\": {\""}, "adapters": {"allowed": "[192.168.1.5]"}}})" },
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(stream.setParams(c.params));
        stream.setAdapter_ip(c.adapter);
        EXPECT_EQ(stream.configText(), c.text);
        QJsonParseError error;
        QJsonDocument::fromJson(stream.configText().toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << stream.configText().toStdString();
    }
    // An empty address keeps the restriction once set.
    stream.setAdapter_ip("");
    EXPECT_TRUE(stream.configText().contains("192.168.1.5"));
}

TEST_F(NdiOutputTest, ParametersAreSavedBeforeTheyApplyAndComeBackWithTheNextStream)
{
    const QString file = NdiOutputStream::paramFile("33", "pvw");
    ASSERT_TRUE(QDir().mkpath(windowsFolder("33")));
    manager.setWebControl("33", "pvw", "");
    const QSharedPointer<NdiOutputStream> stream = manager.stream("33", "pvw");
    ASSERT_TRUE(stream);

    // Without a file: the defaults, which then also enter the configuration.
    const QJsonObject defaults { { "pro_id", "33" }, { "win_id", "pvw" }, { "connection_type", "Default" },
        { "netprefix", "239.255.0.0" }, { "netmask", "255.255.0.0" }, { "ttl", 127 }, { "group", QJsonArray() },
        { "discovery_enable", false }, { "discovery_ip", "" } };
    EXPECT_EQ(manager.getNDIParams("33", "pvw"), (QJsonObject { { "result", "ok" }, { "data", defaults } }));

    // Applied: the file holds the request as given; the group is joined.
    const QJsonObject multicast = params("33", "pvw", "multicast");
    ASSERT_TRUE(manager.setNDIParams("33", "pvw", multicast));
    EXPECT_EQ(JsonFile::load(file), multicast);
    EXPECT_EQ(manager.getNDIParams("33", "pvw").value("data").toObject(), multicast);
    const QString applied = stream->configText();
    EXPECT_TRUE(applied.contains(R"("multicast": {"send": {"enable": true)"));

    // The same values again rewrite nothing.
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_TRUE(manager.setNDIParams("33", "pvw", multicast));
    EXPECT_FALSE(QFile::exists(file));
    ASSERT_TRUE(JsonFile::save(file, multicast));

    // A file that cannot be written, or a runtime that cannot start: false,
    // the reason, and nothing changed; the same request then goes through.
    const QJsonObject other = params("33", "pvw", "Default", 5);
    ASSERT_TRUE(QDir(windowsFolder("33")).removeRecursively());
    QString msg;
    EXPECT_FALSE(manager.setNDIParams("33", "pvw", other, &msg));
    EXPECT_EQ(msg, "Cannot save NDI parameters!");
    EXPECT_EQ(stream->configText(), applied);
    ASSERT_TRUE(QDir().mkpath(windowsFolder("33")));
    {
        // A registry folder that cannot exist: below a plain file.
        const QByteArray registryDir = qgetenv("PANOPTRA_NDI_DIR");
        ASSERT_TRUE(testsupport::writeFile(registryDir + "/plain", "x"));
        qputenv("PANOPTRA_NDI_DIR", QByteArray(registryDir + "/plain/registry"));
        msg.clear();
        EXPECT_FALSE(manager.setNDIParams("33", "pvw", other, &msg));
        EXPECT_EQ(msg, "Cannot run NDI!");
        qputenv("PANOPTRA_NDI_DIR", registryDir);
    }
    EXPECT_EQ(stream->configText(), applied);
    EXPECT_FALSE(QFile::exists(file));
    ASSERT_TRUE(manager.setNDIParams("33", "pvw", other));
    EXPECT_EQ(JsonFile::load(file), other);

    // A stream made again (a restart) runs what its file holds.
    manager.removeItem("33", "pvw");
    manager.setWebControl("33", "pvw", "");
    EXPECT_EQ(manager.stream("33", "pvw")->configText(), stream->configText());
    EXPECT_EQ(manager.getNDIParams("33", "pvw").value("data").toObject(), other);

    // The adapter reaches the streams there are and those made later.
    manager.setNDIAdapter("10.1.2.3");
    manager.setWebControl("33", "pgm", "");
    for (const char* win : { "pvw", "pgm" })
        EXPECT_TRUE(manager.stream("33", win)->configText().contains(R"("adapters": {"allowed": "[10.1.2.3]"})"))
            << win;
    manager.setNDIAdapter("");
    manager.removeItem("33", "pvw");
    manager.removeItem("33", "pgm");
}

TEST_F(NdiOutputTest, OutputsMadeAndRemovedWhileSendingLeaveNothingBehind)
{
    Picture picture(64, 36);
    std::vector<short> block(480 * 2, 100);
    for (int cycle = 0; cycle < 30; ++cycle) {
        manager.setWebControl("34", "1", "https://127.0.0.1:81/");
        manager.setNDIEnable("34", "1", true);
        manager.sendNDIVideo("34", "1", frameOver(picture), "Cycle", NDIlib_FourCC_video_type_UYVY);
        manager.sendNDIAudio("34", "1", block.data(), 480, 2, 48000);
        ASSERT_TRUE(manager.stream("34", "1")->hasSender());
        if (cycle % 2 == 0)
            manager.removeItem("34", "1");
        else
            manager.destroy();
        EXPECT_FALSE(manager.stream("34", "1"));
    }
}
