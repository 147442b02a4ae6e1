// A mixer where no sound server answers: Qt still lists ALSA devices, but
// opening one fails. The mixer then runs without local playback, and its
// network audio and levels go on. Qt's sound-server client is made once per
// process, so this program holds only tests without a server.
#include "MixerTestKit.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

using mixerkit::Feeder;
using mixerkit::MixerWithSource;
using mixerkit::rmsDbfs;

TEST(NoSoundServer, TheMixerRunsAndNetworkAudioFlowsWithoutPlayback)
{
    // A socket file nobody listens on: connecting is refused.
    QTemporaryDir runtime;
    const QByteArray path = (runtime.path() + "/native").toLocal8Bit();
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);
    qputenv("PULSE_SERVER", "unix:" + path);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

    MixerWithSource m;
    ASSERT_TRUE(testsupport::waitFor([&] { return !m.mixer.playbackChanging(); }));
    EXPECT_FALSE(m.mixer.hasPlayback());

    Feeder feeder(m.sink, mixerkit::tone);
    m.mixer.setScreenState("1", 1);
    m.mixer.Open();
    ASSERT_TRUE(m.sendsMore(60));
    const size_t n = m.recorder.count();
    EXPECT_NEAR(rmsDbfs(m.recorder.samplesFrom(n - 20)), -23.0, 1.0);
    EXPECT_NEAR(m.mixer.getVolume(0), 0.4, 0.3);
    m.mixer.destroy();
}

} // namespace
