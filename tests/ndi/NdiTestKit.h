#pragma once
// Fixtures for the network-video tests: a private registry directory per
// test, owning wrappers for the interface's handles, a picture helper, and
// the test-source program run as a child process.
#include "NdiWrapper.h"
#include "TestSupport.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ndikit {

// Points the registry at a fresh folder for the fixture's lifetime, so tests
// never see each other's senders (or anybody else's).
class ScopedRegistry {
public:
    ScopedRegistry()
        : m_old(qgetenv("PANOPTRA_NDI_DIR"))
        , m_hadOld(qEnvironmentVariableIsSet("PANOPTRA_NDI_DIR"))
    {
        qputenv("PANOPTRA_NDI_DIR", m_dir.path().toLocal8Bit());
    }
    ~ScopedRegistry()
    {
        if (m_hadOld)
            qputenv("PANOPTRA_NDI_DIR", m_old);
        else
            qunsetenv("PANOPTRA_NDI_DIR");
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_old;
    bool m_hadOld;
};

struct FinderDeleter {
    void operator()(NdiFinderHandle* h) const { NDIlib_find_destroy(h); }
};
struct ReceiverDeleter {
    void operator()(NdiReceiverHandle* h) const { NDIlib_recv_destroy(h); }
};
struct SenderDeleter {
    void operator()(NdiSenderHandle* h) const { NDIlib_send_destroy(h); }
};
struct FrameSyncDeleter {
    void operator()(NdiFrameSyncHandle* h) const { NDIlib_framesync_destroy(h); }
};
using Finder = std::unique_ptr<NdiFinderHandle, FinderDeleter>;
using Receiver = std::unique_ptr<NdiReceiverHandle, ReceiverDeleter>;
using Sender = std::unique_ptr<NdiSenderHandle, SenderDeleter>;
using FrameSync = std::unique_ptr<NdiFrameSyncHandle, FrameSyncDeleter>;

inline Sender makeSender(const char* name, const char* groups = nullptr)
{
    NDIlib_send_create_t settings;
    settings.p_ndi_name = name;
    settings.p_groups = groups;
    return Sender(NDIlib_send_create_v2(&settings, nullptr));
}

inline Finder makeFinder(const char* groups = nullptr, bool showLocal = true)
{
    NDIlib_find_create_t settings;
    settings.p_groups = groups;
    settings.show_local_sources = showLocal;
    return Finder(NDIlib_find_create_v3(&settings, nullptr));
}

inline Receiver makeReceiver(const char* name, NDIlib_recv_bandwidth_e bandwidth = NDIlib_recv_bandwidth_highest)
{
    NDIlib_recv_create_t settings;
    settings.bandwidth = bandwidth;
    Receiver receiver(NDIlib_recv_create_v4(&settings, nullptr));
    NDIlib_source_t source;
    source.p_ndi_name = name;
    NDIlib_recv_connect(receiver.get(), &source);
    return receiver;
}

inline bool connected(const Receiver& receiver, int timeoutMs = 5000)
{
    return testsupport::waitFor([&] { return NDIlib_recv_get_no_connections(receiver.get()) > 0; }, timeoutMs);
}

using Listing = std::vector<std::pair<std::string, std::string>>; // name, URL

inline Listing sources(const Finder& finder)
{
    uint32_t count = 0;
    const NDIlib_source_t* list = NDIlib_find_get_current_sources(finder.get(), &count);
    Listing out;
    for (uint32_t i = 0; i < count; ++i)
        out.emplace_back(list[i].p_ndi_name, list[i].p_url_address);
    return out;
}

inline bool lists(const Finder& finder, const std::string& name)
{
    for (const auto& source : sources(finder)) {
        if (source.first == name)
            return true;
    }
    return false;
}

// A UYVY picture whose every byte is `value`, or a pattern given per byte.
struct Picture {
    int width, height, stride;
    std::vector<uint8_t> bytes;
    Picture(int w, int h, int padding = 0)
        : width(w)
        , height(h)
        , stride(w * 2 + padding)
        , bytes(size_t(stride) * h)
    {
    }
    NDIlib_video_frame_v2_t frame(int fpsN = 30, int fpsD = 1)
    {
        NDIlib_video_frame_v2_t f;
        f.xres = width;
        f.yres = height;
        f.frame_rate_N = fpsN;
        f.frame_rate_D = fpsD;
        f.p_data = bytes.data();
        f.line_stride_in_bytes = stride;
        return f;
    }
};

inline void sendFilled(const Sender& sender, int w, int h, uint8_t value)
{
    Picture picture(w, h);
    std::fill(picture.bytes.begin(), picture.bytes.end(), value);
    auto frame = picture.frame();
    NDIlib_send_send_video_async_v2(sender.get(), &frame);
    NDIlib_send_send_video_async_v2(sender.get(), nullptr);
}

// Captures until the newest picture's first byte is `value`; false after the deadline.
inline bool waitForPicture(const FrameSync& sync, uint8_t value, int timeoutMs = 5000)
{
    return testsupport::waitFor(
        [&] {
            NDIlib_video_frame_v2_t frame;
            NDIlib_framesync_capture_video(sync.get(), &frame, NDIlib_frame_format_type_progressive);
            const bool match = frame.p_data && frame.p_data[0] == value;
            NDIlib_framesync_free_video(sync.get(), &frame);
            return match;
        },
        timeoutMs);
}

// panoptra_testsource as a child process; the registry directory comes with
// the environment. Collects its stdout lines.
class TestSourceProcess {
public:
    TestSourceProcess(int count, const QString& prefix, const QStringList& extra = {})
    {
        m_process.setProgram(testsupport::binDir() + "/panoptra_testsource");
        m_process.setArguments(
            QStringList { "--count", QString::number(count), "--prefix", prefix, "--width", "320", "--height", "180" }
            + extra);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            while (m_process.canReadLine())
                m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
        });
        m_process.start();
    }
    ~TestSourceProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(testsupport::budgetMs(5000))) {
                m_process.kill();
                m_process.waitForFinished(testsupport::budgetMs(5000));
            }
        }
    }
    QProcess& process() { return m_process; }
    bool waitForLine(const QString& line, int timeoutMs = 10000)
    {
        return testsupport::waitFor([&] { return m_lines.contains(line); }, timeoutMs);
    }
    const QStringList& lines() const { return m_lines; }

private:
    testsupport::ChildProcess m_process;
    QStringList m_lines;
};

} // namespace ndikit
