#include "StandInBackend.h"

#include "LinkMessages.h"

#include "StandInFinder.h"
#include "StandInFrameSync.h"
#include "StandInReceiver.h"
#include "StandInRegistry.h"
#include "StandInSender.h"

#include <QString>

#include <cstring>

namespace {

StandInFinder* finderOf(NDIlib_find_instance_t h)
{
    return reinterpret_cast<StandInFinder*>(h);
}
StandInReceiver* receiverOf(NDIlib_recv_instance_t h)
{
    return reinterpret_cast<StandInReceiver*>(h);
}
StandInFrameSync* syncOf(NDIlib_framesync_instance_t h)
{
    return reinterpret_cast<StandInFrameSync*>(h);
}
StandInSender* senderOf(NDIlib_send_instance_t h)
{
    return reinterpret_cast<StandInSender*>(h);
}

QString text(const char* s)
{
    return s ? QString::fromUtf8(s) : QString();
}

// length 0 means the text is terminated; otherwise it bounds the text.
std::string metadataText(const NDIlib_metadata_frame_t& frame)
{
    if (!frame.p_data)
        return {};
    if (frame.length <= 0)
        return frame.p_data;
    return std::string(frame.p_data, strnlen(frame.p_data, size_t(frame.length)));
}

} // namespace

bool StandInBackend::initialize()
{
    return !StandInRegistry::directory().isEmpty();
}

const char* StandInBackend::version() const
{
    return "Panoptra local network-video stand-in 1.0.0";
}

NDIlib_find_instance_t StandInBackend::findCreate(const NDIlib_find_create_t& settings, const char*)
{
    const QString dir = StandInRegistry::directory();
    if (dir.isEmpty())
        return nullptr;
    return reinterpret_cast<NDIlib_find_instance_t>(
        new StandInFinder(dir, text(settings.p_groups), settings.show_local_sources));
}

void StandInBackend::findDestroy(NDIlib_find_instance_t finder)
{
    delete finderOf(finder);
}

bool StandInBackend::findWait(NDIlib_find_instance_t finder, uint32_t timeoutMs)
{
    return finderOf(finder)->waitForSources(timeoutMs);
}

const NDIlib_source_t* StandInBackend::findSources(NDIlib_find_instance_t finder, uint32_t* count)
{
    return finderOf(finder)->currentSources(count);
}

NDIlib_recv_instance_t StandInBackend::recvCreate(const NDIlib_recv_create_t& settings, const char*)
{
    const QString dir = StandInRegistry::directory();
    if (dir.isEmpty())
        return nullptr;
    auto receiver = std::make_unique<StandInReceiver>(dir, settings.bandwidth);
    if (!receiver->start())
        return nullptr;
    const NDIlib_source_t& source = settings.source_to_connect_to;
    if (source.p_ndi_name || source.p_url_address)
        receiver->connect(text(source.p_ndi_name), text(source.p_url_address));
    return reinterpret_cast<NDIlib_recv_instance_t>(receiver.release());
}

void StandInBackend::recvDestroy(NDIlib_recv_instance_t receiver)
{
    delete receiverOf(receiver);
}

void StandInBackend::recvConnect(NDIlib_recv_instance_t receiver, const NDIlib_source_t* source)
{
    receiverOf(receiver)->connect(
        source ? text(source->p_ndi_name) : QString(), source ? text(source->p_url_address) : QString());
}

int StandInBackend::recvConnections(NDIlib_recv_instance_t receiver)
{
    return receiverOf(receiver)->connections();
}

NDIlib_frame_type_e StandInBackend::recvCaptureMetadata(
    NDIlib_recv_instance_t receiver, NDIlib_metadata_frame_t* out, uint32_t timeoutMs)
{
    return receiverOf(receiver)->captureMetadata(out, timeoutMs);
}

void StandInBackend::recvFreeMetadata(NDIlib_recv_instance_t, NDIlib_metadata_frame_t* metadata)
{
    StandInInbox::release(metadata);
}

bool StandInBackend::recvSendMetadata(NDIlib_recv_instance_t receiver, const NDIlib_metadata_frame_t& metadata)
{
    const int64_t timecode = metadata.timecode == NDIlib_send_timecode_synthesize ? linkmsg::now() : metadata.timecode;
    return receiverOf(receiver)->sendMetadata(metadataText(metadata), timecode);
}

bool StandInBackend::recvSetTally(NDIlib_recv_instance_t receiver, const NDIlib_tally_t& tally)
{
    return receiverOf(receiver)->setTally(tally);
}

const char* StandInBackend::recvWebControl(NDIlib_recv_instance_t receiver)
{
    const std::string url = receiverOf(receiver)->capabilities().webControl;
    if (url.empty())
        return nullptr;
    char* copy = new char[url.size() + 1];
    std::memcpy(copy, url.c_str(), url.size() + 1);
    return copy;
}

void StandInBackend::recvFreeString(NDIlib_recv_instance_t, const char* text)
{
    delete[] text;
}

bool StandInBackend::recvPtzSupported(NDIlib_recv_instance_t receiver)
{
    return receiverOf(receiver)->connections() > 0 && receiverOf(receiver)->capabilities().ptz;
}

bool StandInBackend::recvPtz(NDIlib_recv_instance_t receiver, const NdiPtzCommand& command)
{
    return receiverOf(receiver)->sendPtz(ptzElement(command));
}

std::string StandInBackend::ptzElement(const NdiPtzCommand& command)
{
    struct Shape {
        const char* name;
        const char* a; // attribute names of the values, null when unused
        const char* b;
    };
    static const Shape shapes[] = {
        { "ptz_zoom", "zoom_value", nullptr },
        { "ptz_zoom_speed", "zoom_speed", nullptr },
        { "ptz_pan_tilt", "pan_value", "tilt_value" },
        { "ptz_pan_tilt_speed", "pan_speed", "tilt_speed" },
        { "ptz_store_preset", nullptr, nullptr },
        { "ptz_recall_preset", "speed", nullptr },
        { "ptz_auto_focus", nullptr, nullptr },
        { "ptz_focus", "focus_value", nullptr },
        { "ptz_focus_speed", "focus_speed", nullptr },
        { "ptz_white_balance_auto", nullptr, nullptr },
        { "ptz_white_balance_indoor", nullptr, nullptr },
        { "ptz_white_balance_outdoor", nullptr, nullptr },
        { "ptz_white_balance_oneshot", nullptr, nullptr },
        { "ptz_white_balance_manual", "red", "blue" },
        { "ptz_exposure_auto", nullptr, nullptr },
        { "ptz_exposure_manual", "exposure_level", nullptr },
    };
    const Shape& shape = shapes[command.kind];
    QString element = QStringLiteral("<%1").arg(QLatin1String(shape.name));
    if (command.kind == NdiPtzCommand::StorePreset || command.kind == NdiPtzCommand::RecallPreset)
        element += QStringLiteral(" preset_no=\"%1\"").arg(command.preset);
    if (shape.a)
        element += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(shape.a)).arg(double(command.a), 0, 'g', 6);
    if (shape.b)
        element += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(shape.b)).arg(double(command.b), 0, 'g', 6);
    return (element + QStringLiteral("/>")).toStdString();
}

NDIlib_framesync_instance_t StandInBackend::framesyncCreate(NDIlib_recv_instance_t receiver)
{
    return reinterpret_cast<NDIlib_framesync_instance_t>(new StandInFrameSync(receiverOf(receiver)->store()));
}

void StandInBackend::framesyncDestroy(NDIlib_framesync_instance_t framesync)
{
    delete syncOf(framesync);
}

void StandInBackend::framesyncCaptureVideo(
    NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video, NDIlib_frame_format_type_e)
{
    // Pictures are handed out as they were sent; fields are not woven or split.
    syncOf(framesync)->captureVideo(video);
}

void StandInBackend::framesyncFreeVideo(NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video)
{
    syncOf(framesync)->freeVideo(video);
}

void StandInBackend::framesyncCaptureAudio(
    NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio, int sampleRate, int channels, int samples)
{
    syncOf(framesync)->captureAudio(audio, sampleRate, channels, samples);
}

void StandInBackend::framesyncFreeAudio(NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio)
{
    syncOf(framesync)->freeAudio(audio);
}

NDIlib_send_instance_t StandInBackend::sendCreate(const NDIlib_send_create_t& settings, const char*)
{
    auto sender
        = StandInSender::create(StandInRegistry::directory(), text(settings.p_ndi_name), text(settings.p_groups));
    return reinterpret_cast<NDIlib_send_instance_t>(sender.release());
}

void StandInBackend::sendDestroy(NDIlib_send_instance_t sender)
{
    delete senderOf(sender);
}

void StandInBackend::sendVideo(NDIlib_send_instance_t sender, const NDIlib_video_frame_v2_t* video)
{
    if (video)
        senderOf(sender)->sendVideo(*video);
}

void StandInBackend::sendAudio16(NDIlib_send_instance_t sender, const NDIlib_audio_frame_interleaved_16s_t& audio)
{
    senderOf(sender)->sendAudio(audio);
}

void StandInBackend::sendAddConnectionMetadata(NDIlib_send_instance_t sender, const NDIlib_metadata_frame_t& metadata)
{
    const int64_t timecode = metadata.timecode == NDIlib_send_timecode_synthesize ? linkmsg::now() : metadata.timecode;
    senderOf(sender)->addConnectionMetadata(metadataText(metadata), timecode);
}

bool StandInBackend::sendTally(NDIlib_send_instance_t sender, NDIlib_tally_t* tally, uint32_t timeoutMs)
{
    return senderOf(sender)->tally(tally, timeoutMs);
}

NDIlib_frame_type_e StandInBackend::sendCaptureMetadata(
    NDIlib_send_instance_t sender, NDIlib_metadata_frame_t* out, uint32_t timeoutMs)
{
    return senderOf(sender)->captureMetadata(out, timeoutMs);
}

void StandInBackend::sendFreeMetadata(NDIlib_send_instance_t, NDIlib_metadata_frame_t* metadata)
{
    StandInInbox::release(metadata);
}
