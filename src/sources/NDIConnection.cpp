#include "NDIConnection.h"

#include "NDIRecvInstance.h"

#include <QDebug>

#include <cstdio>
#include <cstring>

namespace {

NDIRecvInstance* receiverOf(const MediaInstancePtr& instance)
{
    return dynamic_cast<NDIRecvInstance*>(instance.get());
}

// Runs a receiver command of the PTZ family; false without a receiver.
template <typename Command> bool onReceiver(const MediaInstancePtr& instance, Command command)
{
    NDIRecvInstance* ndi = receiverOf(instance);
    return ndi && ndi->receiver() && command(ndi->receiver());
}

// The receiver's transport options: every optional transport is off, so
// the receiver uses the library's default one.
const char* const kReceiverConfig = "{\"ndi\":{"
                                    "\"rudp\":{\"recv\":{\"enable\":false},\"send\":{\"enable\":false}},"
                                    "\"tcp\":{\"recv\":{\"enable\":false},\"send\":{\"enable\":false}},"
                                    "\"unicast\":{\"recv\":{\"enable\":false},\"send\":{\"enable\":false}},"
                                    "\"multicast\":{\"recv\":{\"enable\":false},\"send\":{\"enable\":false}}"
                                    "}}";

int sdkMajorVersion()
{
    const char* version = NDIlib_version();
    if (!version)
        return 0;
    const char* lastWord = std::strrchr(version, ' ');
    int major = 0, minor = 0, patch = 0;
    if (std::sscanf(lastWord ? lastWord + 1 : version, "%d.%d.%d", &major, &minor, &patch) != 3)
        return 0;
    return major;
}

// Asks for metadata without waiting and drops what came: keeps the
// receiver's connection state current. Returns the capture type.
NDIlib_frame_type_e pollMetadata(NDIlib_recv_instance_t receiver)
{
    NDIlib_metadata_frame_t metadata;
    metadata.length = 0;
    metadata.timecode = NDIlib_send_timecode_synthesize;
    metadata.p_data = nullptr;
    const NDIlib_frame_type_e type = NDIlib_recv_capture_v2(receiver, nullptr, nullptr, &metadata, 0);
    if (type == NDIlib_frame_type_metadata)
        NDIlib_recv_free_metadata(receiver, &metadata);
    return type;
}

} // namespace

NDIConnection::NDIConnection(QObject* parent)
    : MediaConnection(parent)
{
}

NDIConnection::~NDIConnection()
{
    // The threads call the operations of this class: stop them while it exists.
    destroy();
}

NDIlib_recv_bandwidth_e NDIConnection::receiverBandwidth(BandWidth_t bw)
{
    switch (bw) {
    case BandWidthHigh:
        return NDIlib_recv_bandwidth_highest;
    case BandWidthAudioOnly:
        return NDIlib_recv_bandwidth_audio_only;
    case BandWidthMetadataOnly:
        return NDIlib_recv_bandwidth_metadata_only;
    default:
        return NDIlib_recv_bandwidth_lowest;
    }
}

MediaInstancePtr NDIConnection::createConnection(BandWidth_t bw, const QString& name, const QString& url)
{
    if (url.isEmpty()) {
        qWarning() << "error: addr is empty!";
        return nullptr;
    }
    NDIlib_recv_create_t settings;
    settings.source_to_connect_to = NDIlib_source_t {};
    settings.color_format = NDIlib_recv_color_format_fastest;
    settings.bandwidth = receiverBandwidth(bw);
    settings.allow_video_fields = true;
    settings.p_ndi_recv_name = nullptr;
    NDIlib_recv_instance_t receiver = NDIlib_recv_create_v4(&settings, kReceiverConfig);
    if (!receiver) {
        qWarning() << "error: ndi_recv create failed! " << name << int(bw);
        return nullptr;
    }
    static const char kHwAccel[] = "<ndi_hwaccel enabled='true'/>";
    NDIlib_metadata_frame_t hwaccel;
    hwaccel.length = int(sizeof(kHwAccel) - 1);
    hwaccel.timecode = 0;
    hwaccel.p_data = const_cast<char*>(kHwAccel);
    NDIlib_recv_send_metadata(receiver, &hwaccel);

    auto instance = std::make_shared<NDIRecvInstance>(settings.bandwidth, nullptr, receiver, name, url);
    qDebug() << "==============create new connection " << name << int(bw) << url
             << NDIlib_recv_get_no_connections(receiver);
    qDebug() << "GetNDISDKVersion: " << sdkMajorVersion();
    return instance;
}

int NDIConnection::getConnectionState(const MediaInstancePtr& instance)
{
    NDIRecvInstance* ndi = receiverOf(instance);
    if (!ndi || !ndi->receiver())
        return 0;
    if (pollMetadata(ndi->receiver()) == NDIlib_frame_type_error)
        return 4;
    return NDIlib_recv_get_no_connections(ndi->receiver()) > 0 ? 2 : 3;
}

VideoFramePtr NDIConnection::retrivalVideoFrame(const MediaInstancePtr& instance, bool stickOnly)
{
    using Wrapper = VideoFramePtr::element_type;
    if (stickOnly) {
        if (getConnectionState(instance) != 2)
            return nullptr;
        // Only the connection is followed: an empty record says it is alive.
        return std::make_shared<Wrapper>(instance, Media_video_frame_t {});
    }
    NDIRecvInstance* ndi = receiverOf(instance);
    if (!ndi) {
        qWarning() << "error: ndi_conn is null! ";
        return nullptr;
    }
    if (!ndi->receiver()) {
        qWarning() << "recv_inst is null.";
        return nullptr;
    }
    if (NDIlib_recv_get_no_connections(ndi->receiver()) == 0) {
        ndi->connectToSource();
        // The picture comes on a later pull.
        if (NDIlib_recv_get_no_connections(ndi->receiver()) == 0)
            return nullptr;
    }
    ndi->createFramesync();
    if (!ndi->framesync()) {
        qWarning() << "error: framesyncInstance is null! ";
        return nullptr;
    }
    Media_video_frame_t frame;
    NDIlib_framesync_capture_video(ndi->framesync(), &frame, NDIlib_frame_format_type_progressive);
    return std::make_shared<Wrapper>(instance, frame);
}

AudioFramePtr NDIConnection::retrivalAudioFrame(
    const MediaInstancePtr& instance, bool stickOnly, int samples, int level)
{
    using Wrapper = AudioFramePtr::element_type;
    if (stickOnly) {
        if (getConnectionState(instance) != 2)
            return nullptr;
        Media_audio_frame_t empty;
        empty.sample_rate = kAudioSampleRate;
        empty.no_channels = kAudioChannels;
        empty.no_samples = 0;
        return std::make_shared<Wrapper>(nullptr, empty);
    }
    NDIRecvInstance* ndi = receiverOf(instance);
    if (!ndi) {
        qWarning() << "error: ndi_conn is null! ";
        return nullptr;
    }
    // Only the video pull connects the receiver.
    if (!ndi->receiver() || NDIlib_recv_get_no_connections(ndi->receiver()) == 0)
        return nullptr;
    ndi->createFramesync();
    if (!ndi->framesync() || samples < 1)
        return nullptr;

    NDIlib_audio_frame_v2_t captured;
    captured.sample_rate = kAudioSampleRate;
    captured.no_channels = kAudioChannels;
    captured.timecode = NDIlib_send_timecode_synthesize;
    NDIlib_framesync_capture_audio(ndi->framesync(), &captured, kAudioSampleRate, kAudioChannels, samples);
    if (!captured.p_data)
        return nullptr;

    const size_t count = size_t(captured.no_channels) * size_t(captured.no_samples);
    Media_audio_frame_t record;
    record.sample_rate = captured.sample_rate;
    record.no_channels = captured.no_channels;
    record.no_samples = captured.no_samples;
    record.timecode = captured.timecode;
    record.p_data = new float[count];
    record.channel_stride_in_bytes = captured.channel_stride_in_bytes;
    record.p_metadata = nullptr;
    record.timestamp = captured.timestamp;
    record.p_data_s16 = new int16_t[count];
    // The wrapper owns both arrays from here on.
    auto frame = std::make_shared<Wrapper>(nullptr, record);

    NDIlib_audio_frame_interleaved_32f_t floats;
    floats.sample_rate = captured.sample_rate;
    floats.no_channels = captured.no_channels;
    floats.no_samples = captured.no_samples;
    floats.p_data = record.p_data;
    NDIlib_util_audio_to_interleaved_32f_v2(&captured, &floats);
    NDIlib_audio_frame_interleaved_16s_t pcm;
    pcm.sample_rate = captured.sample_rate;
    pcm.no_channels = captured.no_channels;
    pcm.no_samples = captured.no_samples;
    pcm.reference_level = level;
    pcm.p_data = record.p_data_s16;
    NDIlib_util_audio_to_interleaved_16s_v2(&captured, &pcm);
    NDIlib_framesync_free_audio(ndi->framesync(), &captured);
    return frame;
}

std::shared_ptr<Media_capabilities_t> NDIConnection::getConnectionCapabilities(
    const MediaInstancePtr& instance, bool pvw, bool pgm)
{
    NDIRecvInstance* ndi = receiverOf(instance);
    if (!ndi || !ndi->receiver())
        return nullptr;
    NDIlib_recv_instance_t receiver = ndi->receiver();
    if (pollMetadata(receiver) == NDIlib_frame_type_error && NDIlib_recv_get_no_connections(receiver) == 0)
        return nullptr;
    auto record = std::make_shared<Media_capabilities_t>();
    record->type = "general-ndi";
    record->support_ptz = NDIlib_recv_ptz_is_supported(receiver);
    if (const char* url = NDIlib_recv_get_web_control(receiver)) {
        record->web_url = url;
        NDIlib_recv_free_string(receiver, url);
    }
    record->support_kvm = false;
    switch (ndi->bandwidth()) {
    case NDIlib_recv_bandwidth_audio_only:
        record->has_video = false;
        record->has_audio = true;
        break;
    case NDIlib_recv_bandwidth_metadata_only:
        record->has_video = false;
        record->has_audio = false;
        break;
    default:
        record->has_video = true;
        record->has_audio = true;
        break;
    }
    record->has_metadata = true;
    record->pvw = pvw;
    record->pgm = pgm;
    record->talk_url.clear();
    return record;
}

void NDIConnection::setConnectionTally(const MediaInstancePtr& instance, bool pvw, bool pgm)
{
    NDIRecvInstance* ndi = receiverOf(instance);
    if (!ndi || !ndi->receiver())
        return;
    NDIlib_tally_t tally;
    tally.on_program = pgm;
    tally.on_preview = pvw;
    NDIlib_recv_set_tally(ndi->receiver(), &tally);
}

bool NDIConnection::ptzZoom(const MediaInstancePtr& instance, float zoom)
{
    return onReceiver(instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_zoom(r, zoom); });
}

bool NDIConnection::ptzZoomSpeed(const MediaInstancePtr& instance, float speed)
{
    return onReceiver(instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_zoom_speed(r, speed); });
}

bool NDIConnection::ptzPanTilt(const MediaInstancePtr& instance, float pan, float tilt)
{
    return onReceiver(instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_pan_tilt(r, pan, tilt); });
}

bool NDIConnection::ptzPanTiltSpeed(const MediaInstancePtr& instance, float panSpeed, float tiltSpeed)
{
    return onReceiver(
        instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_pan_tilt_speed(r, panSpeed, tiltSpeed); });
}

bool NDIConnection::ptzStorePreset(const MediaInstancePtr& instance, int preset)
{
    return onReceiver(instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_store_preset(r, preset); });
}

bool NDIConnection::ptzRecallPreset(const MediaInstancePtr& instance, int preset, float speed)
{
    return onReceiver(
        instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_recall_preset(r, preset, speed); });
}

bool NDIConnection::ptzAutoFocus(const MediaInstancePtr& instance)
{
    return onReceiver(instance, [](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_auto_focus(r); });
}

bool NDIConnection::ptzFocus(const MediaInstancePtr& instance, float focus)
{
    return onReceiver(instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_focus(r, focus); });
}

bool NDIConnection::ptzFocusSpeed(const MediaInstancePtr& instance, float speed)
{
    return onReceiver(instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_focus_speed(r, speed); });
}

bool NDIConnection::ptzWhiteBalanceAuto(const MediaInstancePtr& instance)
{
    return onReceiver(instance, [](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_white_balance_auto(r); });
}

bool NDIConnection::ptzWhiteBalanceIndoor(const MediaInstancePtr& instance)
{
    return onReceiver(instance, [](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_white_balance_indoor(r); });
}

bool NDIConnection::ptzWhiteBalanceOutdoor(const MediaInstancePtr& instance)
{
    return onReceiver(instance, [](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_white_balance_outdoor(r); });
}

bool NDIConnection::ptzWhiteBalanceOneshot(const MediaInstancePtr& instance)
{
    return onReceiver(instance, [](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_white_balance_oneshot(r); });
}

bool NDIConnection::ptzWhiteBalanceManual(const MediaInstancePtr& instance, float red, float blue)
{
    return onReceiver(
        instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_white_balance_manual(r, red, blue); });
}

bool NDIConnection::ptzExposureAuto(const MediaInstancePtr& instance)
{
    return onReceiver(instance, [](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_exposure_auto(r); });
}

bool NDIConnection::ptzExposureManual(const MediaInstancePtr& instance, float level)
{
    return onReceiver(instance, [&](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_exposure_manual(r, level); });
}

bool NDIConnection::supportPtz(const MediaInstancePtr& instance)
{
    return onReceiver(instance, [](NDIlib_recv_instance_t r) { return NDIlib_recv_ptz_is_supported(r); });
}
