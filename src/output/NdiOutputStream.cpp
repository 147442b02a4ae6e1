#include "NdiOutputStream.h"

#include "base/ApiReplies.h"
#include "base/Clock.h"
#include "base/ThreadCheck.h"

#include "base/Globals.h"
#include "base/JsonFile.h"
#include "media/VideoFrame.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <cstdio>

namespace {

// A JSON string literal (quotes included) for text going into the
// configuration: addresses come from requests and may hold anything.
QString jsonString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString sendMember(const char* transport, bool enable, const QString& extra = QString())
{
    return QStringLiteral("\"%1\": {\"send\": {\"enable\": %2%3}}")
        .arg(QLatin1String(transport), QLatin1String(enable ? "true" : "false"), extra);
}

// The key of the first value a sender could not run with, or empty. Missing
// keys keep their defaults; null group entries are skipped, as when applied.
QString invalidParam(const QJsonObject& params)
{
    const QJsonValue ttl = params.value(QLatin1String("ttl"));
    if (!ttl.isUndefined() && !ttl.isNull()) {
        const double value = ttl.toDouble(-1);
        if (!ttl.isDouble() || !(value >= 1 && value <= 255) || value != std::floor(value))
            return QStringLiteral("ttl");
    }
    const QJsonValue discovery = params.value(QLatin1String("discovery_enable"));
    if (!discovery.isUndefined() && !discovery.isNull() && !discovery.isBool())
        return QStringLiteral("discovery_enable");
    const QJsonValue group = params.value(QLatin1String("group"));
    if (!group.isUndefined() && !group.isNull()) {
        if (!group.isArray())
            return QStringLiteral("group");
        const QJsonArray groups = group.toArray();
        for (const QJsonValue& g : groups) {
            if (!g.isNull() && !g.isString())
                return QStringLiteral("group");
        }
    }
    return QString();
}

} // namespace

bool NdiOutputStream::Settings::operator==(const Settings& o) const
{
    return connection_type == o.connection_type && netprefix == o.netprefix && netmask == o.netmask && ttl == o.ttl
        && group == o.group && discovery_enable == o.discovery_enable && discovery_ip == o.discovery_ip;
}

NdiOutputStream::Settings NdiOutputStream::settingsOf(const QJsonObject& params)
{
    Settings s;
    s.connection_type = params.value(QLatin1String("connection_type")).toString();
    s.netprefix = params.value(QLatin1String("netprefix")).toString();
    s.netmask = params.value(QLatin1String("netmask")).toString();
    s.discovery_ip = params.value(QLatin1String("discovery_ip")).toString();
    s.ttl = params.value(QLatin1String("ttl")).toInt(0);
    s.discovery_enable = params.value(QLatin1String("discovery_enable")).toBool(false);
    QStringList groups;
    const QJsonArray listed = params.value(QLatin1String("group")).toArray();
    for (const QJsonValue& g : listed) {
        if (!g.isNull())
            groups << g.toVariant().toString();
    }
    s.group = groups.join(',');
    return s;
}

QString NdiOutputStream::paramFile(const QString& pro_id, const QString& win_id)
{
    return QStringLiteral("%1/programs/program_%2/windows/win%3_ndi_out.json").arg(g_savePath, pro_id, win_id);
}

NdiOutputStream::NdiOutputStream(const QString& pro_id, const QString& win_id, const QString& adapter)
    : m_proId(pro_id)
    , m_winId(win_id)
    , m_adapter(adapter)
{
    // What get_param reports is what runs, also after a restart.
    const QJsonObject stored = loadParams(pro_id, win_id);
    if (!stored.isEmpty())
        m_settings = settingsOf(stored);
    updateConfigLocked();
}

NdiOutputStream::~NdiOutputStream()
{
    destroy();
}

void NdiOutputStream::sendVideo(
    const QString& name, std::shared_ptr<VideoFrame> frame, NDIlib_FourCC_video_type_e fourCC)
{
    if (!isEnabled() || !frame || frame->width() == 0 || frame->height() == 0 || !frame->data())
        return;
    NDIlib_video_frame_v2_t video;
    video.xres = int32_t(frame->width());
    video.yres = int32_t(frame->height());
    video.FourCC = fourCC;
    video.frame_rate_N = frame->frameRateNumerator();
    video.frame_rate_D = frame->frameRateDenominator();
    video.picture_aspect_ratio = float(frame->width()) / float(frame->height());
    video.frame_format_type = NDIlib_frame_format_type_progressive;
    video.timecode = NDIlib_send_timecode_synthesize;
    video.p_data = frame->data();
    video.line_stride_in_bytes = int32_t(frame->stride());
    video.p_metadata = nullptr;
    video.timestamp = 0;

    {
        QWriteLocker lock(&m_lock);
        if (name != m_name || m_recreate) {
            m_name = name;
            m_recreate = false;
            if (m_sender) {
                qDebug() << "destroy ndi send. " << name;
                releaseSenderLocked();
            }
        }
        if (!m_sender) {
            const QByteArray ndiName = m_name.toUtf8();
            const QByteArray groups = m_settings.group.toUtf8();
            const QByteArray config = m_config.toUtf8();
            NDIlib_send_create_t settings;
            settings.p_ndi_name = ndiName.constData();
            settings.p_groups = groups.constData();
            settings.clock_video = false;
            settings.clock_audio = false;
            m_sender = NDIlib_send_create_v2(&settings, config.constData());
            if (!m_sender) {
                printf("Error creating NDI Sender\n");
                fflush(stdout);
                return;
            }
            announceLocked();
        }
    }

    const int64_t now = monotonicMs();
    if (now - m_statisticsTime < 60000) {
        ++m_framesSinceStatistics;
    } else {
        qDebug() << "sendVideo window: " + name + " fs :" << m_framesSinceStatistics / 60.0
                 << ", isMain:" << (onMainThread() ? "true" : "false");
        m_statisticsTime = now;
        m_framesSinceStatistics = 0;
    }

    {
        QReadLocker lock(&m_lock);
        if (m_sender)
            NDIlib_send_send_video_async_v2(m_sender, &video);
    }
    // The library may read an asynchronously sent picture until the next
    // send: the previous frame is let go only now.
    QWriteLocker lock(&m_lock);
    m_keptFrame.swap(frame);
}

void NdiOutputStream::sendAudio(int sampleRate, int channels, int samples, const short* data)
{
    if (!data || sampleRate <= 0 || channels <= 0 || samples <= 0)
        return;
    QReadLocker lock(&m_lock);
    // Audio never makes a sender: it flows once video has made one.
    if (!m_enabled || !m_sender)
        return;
    NDIlib_audio_frame_interleaved_16s_t audio;
    audio.sample_rate = sampleRate;
    audio.no_channels = channels;
    audio.no_samples = samples;
    audio.timecode = NDIlib_send_timecode_synthesize;
    audio.reference_level = m_audioLevel;
    audio.p_data = const_cast<int16_t*>(data);
    NDIlib_util_send_send_audio_interleaved_16s(m_sender, &audio);
}

void NdiOutputStream::setAudioLevel(int level)
{
    QWriteLocker lock(&m_lock);
    m_audioLevel = level;
}

void NdiOutputStream::set_web_control(const QString& url)
{
    {
        QWriteLocker lock(&m_lock);
        m_webControl = url;
    }
    update_ndi_capabilities();
}

QString NdiOutputStream::webControl() const
{
    QReadLocker lock(&m_lock);
    return m_webControl;
}

void NdiOutputStream::update_ndi_capabilities()
{
    QReadLocker lock(&m_lock);
    announceLocked();
}

void NdiOutputStream::announceLocked()
{
    if (!m_enabled || !m_sender || m_webControl.isEmpty())
        return;
    const QByteArray text = ("<ndi_capabilities web_control=\"" + m_webControl.toHtmlEscaped() + "\" />").toUtf8();
    NDIlib_metadata_frame_t metadata;
    metadata.length = 0;
    metadata.timecode = NDIlib_send_timecode_synthesize;
    metadata.p_data = const_cast<char*>(text.constData());
    NDIlib_send_add_connection_metadata(m_sender, &metadata);
}

void NdiOutputStream::setNdiEnable(bool enable)
{
    if (!enable) {
        QWriteLocker lock(&m_lock);
        m_enabled = false;
        releaseSenderLocked();
        m_keptFrame.reset();
        return;
    }
    QWriteLocker lock(&m_lock);
    m_enabled = true;
}

bool NdiOutputStream::isEnabled() const
{
    QReadLocker lock(&m_lock);
    return m_enabled;
}

bool NdiOutputStream::hasSender() const
{
    QReadLocker lock(&m_lock);
    return m_sender != nullptr;
}

void NdiOutputStream::setAdapter_ip(const QString& address)
{
    QWriteLocker lock(&m_lock);
    if (address.isEmpty() || address == m_adapter)
        return;
    m_adapter = address;
    updateConfigLocked();
    m_recreate = true;
}

QJsonObject NdiOutputStream::getParams(const QString& pro_id, const QString& win_id)
{
    Settings s;
    {
        QWriteLocker lock(&m_lock);
        if (m_settings.netprefix.isEmpty())
            m_settings.netprefix = QStringLiteral("239.255.0.0");
        if (m_settings.netmask.isEmpty())
            m_settings.netmask = QStringLiteral("255.255.0.0");
        if (m_settings.ttl < 1)
            m_settings.ttl = 127;
        s = m_settings;
    }
    QJsonArray groups;
    if (!s.group.isEmpty()) {
        for (const QString& g : s.group.split(',', Qt::KeepEmptyParts))
            groups.append(g);
    }
    const QJsonObject stored = loadParams(pro_id, win_id);
    if (!stored.isEmpty())
        return apireply::ok(stored);
    const QJsonObject data { { "pro_id", pro_id }, { "win_id", win_id }, { "connection_type", s.connection_type },
        { "netprefix", s.netprefix }, { "netmask", s.netmask }, { "ttl", s.ttl }, { "group", groups },
        { "discovery_enable", s.discovery_enable }, { "discovery_ip", s.discovery_ip } };
    return apireply::ok(data);
}

QJsonObject NdiOutputStream::loadParams(const QString& pro_id, const QString& win_id) const
{
    return JsonFile::load(paramFile(pro_id, win_id));
}

bool NdiOutputStream::saveParams(const QString& pro_id, const QString& win_id, const QJsonObject& params) const
{
    const QString file = paramFile(pro_id, win_id);
    // The folder belongs to the program model: without it the window is gone.
    if (!QFileInfo(file).dir().exists())
        return false;
    return JsonFile::save(file, params);
}

bool NdiOutputStream::setParams(const QJsonObject& params, QString* msg)
{
    // Stored and reported values must be the ones the sender runs with.
    const QString invalid = invalidParam(params);
    if (!invalid.isEmpty()) {
        qWarning() << "NdiOutputStream::setParams: refused" << invalid << m_proId << m_winId;
        if (msg)
            *msg = QStringLiteral("Invalid NDI parameter: %1").arg(invalid);
        return false;
    }
    const Settings wanted = settingsOf(params);
    {
        QReadLocker lock(&m_lock);
        if (wanted == m_settings)
            return true;
    }
    // Nothing changes unless the runtime runs and the file holds the new
    // settings, so a failed request can simply be sent again.
    if (!NDIlib_initialize()) {
        qWarning() << "NdiOutputStream::setParams: the network-video runtime cannot start" << m_proId << m_winId;
        if (msg)
            *msg = QStringLiteral("Cannot run NDI!");
        return false;
    }
    if (!saveParams(m_proId, m_winId, params)) {
        qWarning() << "NdiOutputStream::setParams: cannot write" << paramFile(m_proId, m_winId);
        if (msg)
            *msg = QStringLiteral("Cannot save NDI parameters!");
        return false;
    }
    QWriteLocker lock(&m_lock);
    m_settings = wanted;
    updateConfigLocked();
    m_recreate = true;
    return true;
}

void NdiOutputStream::updateConfig()
{
    QWriteLocker lock(&m_lock);
    updateConfigLocked();
}

void NdiOutputStream::updateConfigLocked()
{
    QStringList members;
    const QString& type = m_settings.connection_type;
    if (type == QLatin1String("default") || type == QLatin1String("Default")) {
        members << sendMember("rudp", false) << sendMember("tcp", true) << sendMember("unicast", true)
                << sendMember("multicast", false);
    } else if (type == QLatin1String("no_multi_tcp")) {
        members << sendMember("rudp", false) << sendMember("tcp", false) << sendMember("unicast", true)
                << sendMember("multicast", false);
    } else if (type == QLatin1String("multicast")) {
        members << sendMember("rudp", false) << sendMember("tcp", false) << sendMember("unicast", false)
                << sendMember("multicast", true,
                       QStringLiteral(", \"netprefix\": %1, \"netmask\": %2, \"ttl\": %3")
                           .arg(jsonString(m_settings.netprefix), jsonString(m_settings.netmask))
                           .arg(m_settings.ttl));
    }
    if (m_settings.discovery_enable)
        members << QStringLiteral("\"networks\": {\"discovery\": %1}").arg(jsonString(m_settings.discovery_ip));
    if (!m_adapter.isEmpty())
        members << QStringLiteral("\"adapters\": {\"allowed\": %1}").arg(jsonString("[" + m_adapter + "]"));
    m_config = QStringLiteral("{\"ndi\": {%1}}").arg(members.join(QStringLiteral(", ")));
}

QString NdiOutputStream::configText() const
{
    QReadLocker lock(&m_lock);
    return m_config;
}

void NdiOutputStream::releaseSenderLocked()
{
    if (m_sender) {
        // A null frame waits until the library no longer reads the kept one.
        NDIlib_send_send_video_async_v2(m_sender, nullptr);
        NDIlib_send_destroy(m_sender);
        m_sender = nullptr;
    }
}

void NdiOutputStream::destroy()
{
    QWriteLocker lock(&m_lock);
    releaseSenderLocked();
    m_keptFrame.reset();
}
