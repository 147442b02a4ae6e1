#include "Preset.h"

#include "base/ApiReplies.h"
#include "base/BusIds.h"

#include "media/GlobalData.h"

#include <QDebug>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QSet>

#include <algorithm>
#include <climits>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace {

const QString kWinSave = QStringLiteral("win_save");
const char* const kOverlayFlags[] = { "center_cross", "safe_area", "name_enable", "vu_meter" };

// Stored values are read leniently: a value of another JSON type reads as
// 0, false or empty, and an integer must be a whole number in range.
int toInt(const QJsonValue& v)
{
    if (!v.isDouble())
        return 0;
    const double d = v.toDouble();
    if (d != std::trunc(d) || d < double(INT_MIN) || d > double(INT_MAX))
        return 0;
    return int(d);
}

double toDouble(const QJsonValue& v)
{
    return v.isDouble() ? v.toDouble() : 0.0;
}

bool hasAll(const QJsonObject& obj, std::initializer_list<const char*> keys)
{
    return std::all_of(keys.begin(), keys.end(), [&](const char* key) { return obj.contains(QLatin1String(key)); });
}

void writeOverlayFlags(QJsonObject& obj, const QMap<QString, bool>& flags)
{
    for (const char* key : kOverlayFlags)
        obj.insert(QLatin1String(key), flags.value(QLatin1String(key), false));
}

void readOverlayFlags(const QJsonObject& obj, QMap<QString, bool>& flags)
{
    for (const char* key : kOverlayFlags)
        flags.insert(QLatin1String(key), obj.value(QLatin1String(key)).toBool(false));
}

// A stored frame rate may be a number, a number written as text, or true.
float storedFrameRate(const QJsonValue& v)
{
    if (v.isDouble())
        return float(v.toDouble());
    if (v.isString())
        return v.toString().toFloat();
    return v.isBool() && v.toBool() ? 1.0f : 0.0f;
}

bool noScreenOnly(int screenIndex)
{
    return screenIndex < 1;
}

Preset::ScreenIndexCheck& screenIndexCheck()
{
    static Preset::ScreenIndexCheck check = noScreenOnly;
    return check;
}

// The keys that place a position on the canvas, common to every form in
// which a position is written, added to the form's own keys.
QJsonObject placement(int id, const PresetVideo& v, QJsonObject form = {})
{
    form.insert("id", id);
    form.insert("number", v.number);
    form.insert("type", v.type);
    form.insert("z_index", v.z_index);
    form.insert("x", v.x);
    form.insert("y", v.y);
    form.insert("width", v.width);
    form.insert("height", v.height);
    return form;
}

QString indentedText(const QJsonObject& obj)
{
    return QString::fromUtf8(QJsonDocument(obj).toJson(QJsonDocument::Indented));
}

} // namespace

bool caseInsensitiveLessThan(const QJsonValue& a, const QJsonValue& b)
{
    const bool aStacked = a.isObject() && a.toObject().contains("z_index");
    const bool bStacked = b.isObject() && b.toObject().contains("z_index");
    if (aStacked != bStacked)
        return aStacked;
    if (!aStacked)
        return false;
    return toInt(a.toObject().value("z_index")) < toInt(b.toObject().value("z_index"));
}

Preset::Preset(QObject* parent)
    : QObject(parent)
{
}

Preset::~Preset() = default;

void Preset::setScreenIndexCheck(ScreenIndexCheck check)
{
    screenIndexCheck() = check ? std::move(check) : noScreenOnly;
}

QString Preset::getLayoutId() const
{
    return layout_id;
}

void Preset::setLayoutId(const QString& id)
{
    layout_id = id;
}

QString Preset::getLayoutName() const
{
    return layout_name;
}

void Preset::setLayoutName(const QString& name)
{
    layout_name = name;
}

// ---- JSON form -------------------------------------------------------------

QJsonObject Preset::writePreset(const QString& mode) const
{
    QMutexLocker lock(&positions_mutex);
    const bool windowForm = mode == kWinSave;

    QJsonArray positionArray;
    for (auto it = positions.constBegin(); it != positions.constEnd(); ++it) {
        const PresetVideo& v = it.value();
        QJsonObject p = placement(it.key(), v,
            {
                { "stream_id", v.stream_id },
                { "stream_name", v.stream_name },
                { "frameRate", double(v.frameRate) },
                { "aspectRatio", v.aspectRatio },
                { "angle", v.angle },
            });
        writeOverlayFlags(p, v.options);
        if (windowForm) {
            p.insert("pvw_state", v.pvw_state);
            p.insert("pgm_state", v.pgm_state);
        }
        positionArray.append(p);
    }

    QJsonObject videos {
        { "layout_count", layout_count },
        { "layout_id", layout_id },
        { "layout_name", layout_name },
        { "layout_used", layout_used.join(',') },
        { "position", positionArray },
    };
    if (windowForm) {
        videos.insert("modified", modified);
        QString fromId;
        int fromPos = 0;
        getFromPosition(fromId, fromPos);
        videos.insert("from_id", fromId);
        videos.insert("from_pos", fromPos);
        videos.insert("num_used", num_used);
        videos.insert("num_min", num_min);
        videos.insert("num_max", num_max);
    }

    return QJsonObject {
        { "globalState", getControlState() },
        { "live", QJsonObject { { "select", live_select } } },
        { "screen", QJsonObject { { "select", screen_select }, { "isFull", screen_isFull } } },
        { "videos", videos },
    };
}

void Preset::readPreset(const QJsonObject& json, const QString& mode)
{
    QMutexLocker lock(&positions_mutex);
    const bool windowForm = mode == kWinSave;
    positions.clear();
    control_flags.clear();

    if (!hasAll(json, { "globalState", "videos", "live", "screen" }))
        return;
    const QJsonObject global = json.value("globalState").toObject();
    if (!hasAll(global, { "center_cross", "safe_area", "name_enable", "vu_meter", "border", "font", "audio_gain" }))
        return;
    readOverlayFlags(global, control_flags);

    const QJsonObject border = global.value("border").toObject();
    if (!hasAll(border, { "enable", "color" }))
        return;
    border_enable = border.value("enable").toBool(false);
    border_color = border.value("color").toString();

    const QJsonObject font = global.value("font").toObject();
    if (!hasAll(font, { "size", "color" }))
        return;
    font_size = toInt(font.value("size"));
    font_color = font.value("color").toString();
    audio_gain = toInt(global.value("audio_gain"));

    const QJsonObject videos = json.value("videos").toObject();
    if (!hasAll(videos, { "layout_count", "layout_id", "layout_name", "position", "layout_used" }))
        return;
    layout_count = toInt(videos.value("layout_count"));
    layout_id = videos.value("layout_id").toString();
    layout_name = videos.value("layout_name").toString();
    // Empty pieces are kept: an empty text reads as one empty id.
    layout_used = videos.value("layout_used").toString().split(',');

    const QJsonObject live = json.value("live").toObject();
    if (!live.contains("select"))
        return;
    live_select = live.value("select").toString();

    const QJsonObject screen = json.value("screen").toObject();
    if (!hasAll(screen, { "select", "isFull" }))
        return;
    screen_select = toInt(screen.value("select"));
    screen_isFull = screen.value("isFull").toBool(false);

    const QJsonArray stored = videos.value("position").toArray();
    for (const QJsonValue& value : stored) {
        const QJsonObject p = value.toObject();
        if (!hasAll(p,
                { "id", "type", "z_index", "x", "y", "width", "height", "number", "stream_id", "stream_name",
                    "frameRate", "aspectRatio", "safe_area", "vu_meter", "center_cross", "name_enable" }))
            return;
        PresetVideo& v = positions[toInt(p.value("id"))];
        v.number = toInt(p.value("number"));
        v.type = p.value("type").toString();
        v.z_index = toInt(p.value("z_index"));
        v.x = toDouble(p.value("x"));
        v.y = toDouble(p.value("y"));
        v.width = toDouble(p.value("width"));
        v.height = toDouble(p.value("height"));
        v.stream_id = p.value("stream_id").toString();
        v.stream_name = p.value("stream_name").toString();
        v.frameRate = storedFrameRate(p.value("frameRate"));
        v.aspectRatio = p.value("aspectRatio").toString();
        readOverlayFlags(p, v.options);
        v.angle = toInt(p.value("angle"));
        if (windowForm) {
            if (p.value("pvw_state").isBool())
                v.pvw_state = p.value("pvw_state").toBool();
            if (p.value("pgm_state").isBool())
                v.pgm_state = p.value("pgm_state").toBool();
        }
    }

    if (!windowForm)
        return;
    if (videos.contains("modified"))
        modified = videos.value("modified").toBool(false);
    if (videos.contains("from_id") || videos.contains("from_pos")) {
        QMutexLocker fromLock(&from_mutex);
        if (videos.contains("from_id"))
            from_id = videos.value("from_id").toString();
        if (videos.contains("from_pos"))
            from_pos = toInt(videos.value("from_pos"));
    }
    if (videos.contains("num_used"))
        num_used = videos.value("num_used").toBool(false);
    if (videos.contains("num_min"))
        num_min = toInt(videos.value("num_min"));
    if (videos.contains("num_max"))
        num_max = toInt(videos.value("num_max"));
    qDebug() << "[read] win_save m_number_min :" << num_min << " m_number_max :" << num_max;
}

void Preset::load(const QSharedPointer<Preset>& source, const QString& mode)
{
    if (!source)
        return;
    // Written first and read afterwards, so the two presets' locks are never
    // held together.
    const QJsonObject state = source->writePreset(mode);
    readPreset(state, mode);
    modified = false;
}

QJsonArray Preset::writeAngles() const
{
    QMutexLocker lock(&positions_mutex);
    QJsonArray angles;
    for (auto it = positions.constBegin(); it != positions.constEnd(); ++it)
        angles.append(QJsonObject { { "id", it.key() }, { "angle", it->angle } });
    return angles;
}

void Preset::readAngles(const QJsonArray& array)
{
    QMutexLocker lock(&positions_mutex);
    for (const QJsonValue& value : array) {
        const QJsonObject entry = value.toObject();
        const auto it = positions.find(toInt(entry.value("id")));
        if (it != positions.end())
            it->angle = toInt(entry.value("angle"));
    }
}

QJsonObject Preset::writePresetFile() const
{
    QMutexLocker lock(&positions_mutex);
    QJsonObject file = writePreset(QStringLiteral("none"));
    file.insert("angles", writeAngles());
    return file;
}

void Preset::readPresetFile(const QJsonObject& file)
{
    QMutexLocker lock(&positions_mutex);
    readPreset(file, QStringLiteral("none"));
    if (file.contains("angles"))
        readAngles(file.value("angles").toArray());
}

// ---- Layout application ----------------------------------------------------

bool Preset::setLayoutJson(const QString& pro_id, const QJsonObject& layout)
{
    if (!layout.contains("layout_id") || !layout.contains("position"))
        return false;

    const QJsonArray given = layout.value("position").toArray();
    std::vector<QJsonValue> order(given.begin(), given.end());
    std::stable_sort(order.begin(), order.end(), caseInsensitiveLessThan);

    // Every element is checked before anything changes, so a refused layout
    // leaves the preset, its scene and the registry's labels as they were.
    for (const QJsonValue& value : order) {
        const QJsonObject p = value.toObject();
        if (!value.isObject() || !hasAll(p, { "id", "number", "type", "z_index", "x", "y", "width", "height" })
            || toInt(p.value("id")) < 1)
            return false;
    }

    QJsonArray sorted;
    for (const QJsonValue& value : order)
        sorted.append(value);

    {
        QMutexLocker lock(&positions_mutex);
        layout_id = layout.value("layout_id").toString();
        if (layout.contains("name"))
            layout_name = layout.value("name").toString();
        layout_count = sorted.size();

        QSet<int> applied;
        for (const QJsonValue& value : order) {
            const QJsonObject p = value.toObject();
            const int id = toInt(p.value("id"));
            const QString type = p.value("type").toString();
            const QString stream_id = p.value("stream_id").toString();
            const int number = toInt(p.value("number"));
            // Called for its effect: a source shown for the first time in
            // this program gets its "Camera_" label recorded.
            getPatternName(pro_id, type, stream_id, number);

            PresetVideo& v = positions[id];
            v.x = toDouble(p.value("x"));
            v.y = toDouble(p.value("y"));
            v.width = toDouble(p.value("width"));
            v.height = toDouble(p.value("height"));
            v.number = number;
            v.type = type;
            v.z_index = toInt(p.value("z_index"));
            v.aspectRatio = p.value("aspectRatio").toString();
            v.frameRate = float(toDouble(p.value("frameRate")));
            v.stream_id = stream_id;
            applied.insert(id);
        }
        for (auto it = positions.begin(); it != positions.end();) {
            if (applied.contains(it.key()))
                ++it;
            else
                it = positions.erase(it);
        }
    }

    QJsonObject announced = layout;
    announced.insert("position", sorted);
    announced.insert("layout_count", layout_count);
    emit layoutChanged(indentedText(announced));
    modified = true;
    return true;
}

QJsonObject Preset::getLayoutJson() const
{
    QMutexLocker lock(&positions_mutex);
    QJsonArray positionArray;
    for (auto it = positions.constBegin(); it != positions.constEnd(); ++it)
        positionArray.append(placement(it.key(), it.value()));
    // In use while some window shows the preset; an empty id (what an empty
    // stored list reads back as) names no window.
    const bool used
        = std::any_of(layout_used.begin(), layout_used.end(), [](const QString& id) { return !id.isEmpty(); });
    return QJsonObject {
        { "position", positionArray },
        { "layout_id", layout_id },
        { "layout_count", layout_count },
        { "name", layout_name },
        { "used", used },
    };
}

// ---- Positions and sources -------------------------------------------------

void Preset::setUsedState(const QString& id, bool used)
{
    if (used)
        layout_used.append(id);
    else
        layout_used.removeOne(id);
}

QString Preset::getPatternName(const QString& pro_id, const QString& type, const QString& source, int number) const
{
    if (BusId::isBus(type))
        return BusId::label(type);
    GlobalData* registry = GlobalData::instance();
    QString name = registry->getPatternName(pro_id, source);
    if (name.isEmpty()) {
        name = QStringLiteral("Camera_") + QString::number(number);
        registry->setPatternName(pro_id, source, name);
    }
    return name;
}

void Preset::setsource(const QString& source, const QString& pro_id, int pos_id)
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.find(pos_id);
    if (it == positions.end() || it->stream_id == source)
        return;
    it->stream_id = source;
    it->stream_name = source;
    emit sendSource(pos_id, source, getPatternName(pro_id, it->type, source, it->number));
    modified = true;
}

void Preset::setStreamId(const QString& source, int pos_id)
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.find(pos_id);
    if (it == positions.end())
        return;
    it->stream_id = source;
    it->stream_name = source;
}

QString Preset::getSource(int pos_id) const
{
    QMutexLocker lock(&positions_mutex);
    return positions.value(pos_id).stream_id;
}

bool Preset::isPvw(int pos_id) const
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.constFind(pos_id);
    return it != positions.constEnd() && it->type == BusId::pvw();
}

bool Preset::isPgm(int pos_id) const
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.constFind(pos_id);
    return it != positions.constEnd() && it->type == BusId::pgm();
}

void Preset::removeSource(int pos_id)
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.find(pos_id);
    if (it == positions.end())
        return;
    it->stream_id.clear();
    it->stream_name.clear();
    emit sendSource(pos_id, QString(), QString());
    modified = true;
}

void Preset::clearSources()
{
    QMutexLocker lock(&positions_mutex);
    for (PresetVideo& v : positions) {
        v.stream_id.clear();
        v.stream_name.clear();
    }
    emit deleteAll();
    modified = true;
}

void Preset::setPosition(int screenIndex, bool isFull)
{
    screen_select = screenIndex;
    screen_isFull = isFull;
    emit positionChanged(screenIndex, isFull);
    modified = true;
}

void Preset::getPosition(QJsonObject& reply) const
{
    apireply::addOk(reply, QJsonObject { { "select", screen_select }, { "isFull", screen_isFull } });
}

void Preset::setOutputType(const QString& select)
{
    live_select = select;
    emit liveChanged(select);
    modified = true;
}

void Preset::getOutputType(QJsonObject& reply) const
{
    apireply::addOk(reply, QJsonObject { { "select", live_select } });
}

void Preset::setModified(bool value)
{
    modified = value;
}

bool Preset::getModified() const
{
    return modified;
}

bool Preset::setFromPosition(const QString& id, int pos)
{
    QMutexLocker lock(&from_mutex);
    if (id == from_id && pos == from_pos)
        return false;
    from_id = id;
    from_pos = pos;
    return true;
}

void Preset::getFromPosition(QString& id, int& pos) const
{
    QMutexLocker lock(&from_mutex);
    id = from_id;
    pos = from_pos;
}

bool Preset::setFrameRate(int pos_id, float fps)
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.find(pos_id);
    if (it == positions.end())
        return false;
    it->frameRate = fps;
    return true;
}

bool Preset::setAspectRatio(int pos_id, int xres, int yres)
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.find(pos_id);
    if (it == positions.end())
        return false;
    it->aspectRatio = QString::number(xres) + 'x' + QString::number(yres);
    return true;
}

void Preset::setAngle(int pos_id, int angle)
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.find(pos_id);
    if (it == positions.end() || it->angle == angle)
        return;
    it->angle = angle;
    emit angleChanged(pos_id, angle);
    modified = true;
}

void Preset::take(int pos_id, int time, int type, float progress, const QString& source)
{
    QMutexLocker lock(&positions_mutex);
    if (positions.contains(pos_id))
        emit takeChanged(time, type, progress, source);
}

void Preset::changeAll(const QString& pro_id, bool keepOutputs)
{
    // Announced from a snapshot, so no receiver runs while the positions are locked.
    const QString layoutText = indentedText(getLayoutJson());
    QMap<int, PresetVideo> snapshot;
    {
        QMutexLocker lock(&positions_mutex);
        snapshot = positions;
    }

    emit layoutChanged(layoutText);
    for (auto it = snapshot.constBegin(); it != snapshot.constEnd(); ++it) {
        const PresetVideo& v = it.value();
        if (!BusId::isBus(v.type))
            emit sendSource(it.key(), v.stream_id, getPatternName(pro_id, v.type, v.stream_id, v.number));
        for (auto option = v.options.constBegin(); option != v.options.constEnd(); ++option)
            emit sendSingleState(it.key(), option.key(), option.value());
        emit angleChanged(it.key(), v.angle);
    }
    emit borderChanged(border_enable, border_color);
    emit fontChanged(font_color, font_size);
    emit audioGainChanged(audio_gain);
    for (auto flag = control_flags.constBegin(); flag != control_flags.constEnd(); ++flag)
        emit sendStateOption(flag.key(), flag.value());
    if (!keepOutputs) {
        if (screenIndexCheck()(screen_select))
            emit positionChanged(screen_select, screen_isFull);
        emit liveChanged(live_select);
    }
    emit numRangeChanged(num_used, num_min, num_max);
}

// ---- Tally numbering -------------------------------------------------------

bool Preset::rangeValid() const
{
    return num_min >= 1 && num_max >= 1 && num_min <= num_max;
}

void Preset::getNumRange(int& min, int& max) const
{
    min = num_min;
    max = num_max;
}

bool Preset::setNumRange(int min, int max, bool force)
{
    if (min == num_min && max == num_max && !force)
        return false;
    num_min = min;
    num_max = max;
    emit numRangeChanged(num_used, min, max);
    return true;
}

bool Preset::getNumUsed() const
{
    return num_used;
}

bool Preset::setNumUsed(bool used)
{
    if (used == num_used)
        return false;
    num_used = used;
    return true;
}

void Preset::getTallyState(const QString& pvwSource, const QString& pgmSource, int pvwPos, int pgmPos, QString& pvwList,
    QString& pgmList) const
{
    if (!rangeValid()) {
        qDebug() << "number min or max is invalid " << num_min << num_max;
        return;
    }
    // An empty bus source names the bus position itself, while it shows nothing.
    const auto counts = [](const QString& busSource, int busPos, int pos_id, const PresetVideo& v) {
        if (busSource.isEmpty())
            return busPos >= 1 && pos_id == busPos && v.stream_id.isEmpty();
        return v.stream_id == busSource;
    };
    QMutexLocker lock(&positions_mutex);
    for (auto it = positions.constBegin(); it != positions.constEnd(); ++it) {
        if (it.key() < 1)
            continue;
        const int n = it->number + num_min - 1;
        if (n > num_max)
            continue;
        if (counts(pvwSource, pvwPos, it.key(), *it))
            pvwList += ',' + QString::number(n);
        if (counts(pgmSource, pgmPos, it.key(), *it))
            pgmList += ',' + QString::number(n);
    }
}

bool Preset::getSourceByNumber(int tallyNumber, int& pos_id, QString& source) const
{
    QMutexLocker lock(&positions_mutex);
    if (!num_used) {
        qDebug() << "[getSourceByNumber] number is not in used.";
        return false;
    }
    for (auto it = positions.constBegin(); it != positions.constEnd(); ++it) {
        if (it->number < 1) {
            qDebug() << "[getSourceByNumber] number <= 0. ";
            continue;
        }
        qDebug() << "video number :" << it->number << "min :" << num_min << "max :" << num_max;
        const int n = it->number + num_min - 1;
        if (num_max >= 1 && n <= num_max && n == tallyNumber) {
            pos_id = it.key();
            source = it->stream_id;
            return true;
        }
    }
    qDebug() << "[getSourceByNumber] no valid number in this window.";
    return false;
}

void Preset::changeTallyState(const QString& source, const QString& type)
{
    QMutexLocker lock(&positions_mutex);
    for (PresetVideo& v : positions) {
        if (!v.type.isEmpty())
            continue;
        const bool showsSource = !source.isEmpty() && source == v.stream_id;
        if (type == BusId::pvw()) {
            v.pvw_state = showsSource;
        } else if (type == BusId::pgm()) {
            v.pgm_state = showsSource;
        } else {
            v.pvw_state = false;
            v.pgm_state = false;
        }
    }
}

void Preset::changeTallyState(int pos_id, const QString& type, bool on)
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.find(pos_id);
    if (pos_id < 1 || it == positions.end())
        return;
    if (type == BusId::pvw())
        it->pvw_state = on;
    else if (type == BusId::pgm())
        it->pgm_state = on;
}

void Preset::getTallyState(QString& pvwList, QString& pgmList) const
{
    QMutexLocker lock(&positions_mutex);
    if (!rangeValid()) {
        qDebug() << "number min or max is invalid " << num_min << num_max;
        return;
    }
    for (auto it = positions.constBegin(); it != positions.constEnd(); ++it) {
        const int n = it->number + num_min - 1;
        if (!it->type.isEmpty() || n > num_max)
            continue;
        if (it->pvw_state)
            pvwList += ',' + QString::number(n);
        if (it->pgm_state)
            pgmList += ',' + QString::number(n);
    }
}

// ---- Overlays --------------------------------------------------------------

QJsonObject Preset::getControlState() const
{
    QJsonObject state {
        { "border", QJsonObject { { "enable", border_enable }, { "color", border_color } } },
        { "font", QJsonObject { { "size", font_size }, { "color", font_color } } },
        { "audio_gain", audio_gain },
    };
    writeOverlayFlags(state, control_flags);
    return state;
}

void Preset::setControlState(const QString& type, bool enable)
{
    control_flags.insert(type, enable);
    emit sendStateOption(type, enable);
    modified = true;
}

void Preset::setControlState(const QString& /*type*/, bool enable, const QString& color)
{
    border_color = color;
    border_enable = enable;
    emit borderChanged(enable, color);
    modified = true;
}

void Preset::setControlState(const QString& color, int size)
{
    font_color = color;
    font_size = size;
    emit fontChanged(color, size);
    modified = true;
}

void Preset::setControlState(int audioGain)
{
    audio_gain = audioGain;
    emit audioGainChanged(audioGain);
    modified = true;
}

void Preset::getVideoRectOptions(const QString& pro_id, int pos_id, QJsonObject& reply) const
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.constFind(pos_id);
    if (it == positions.constEnd())
        return;
    QJsonObject data {
        { "pattern_name", getPatternName(pro_id, it->type, it->stream_id, it->number) },
        { "angle", it->angle },
    };
    writeOverlayFlags(data, it->options);
    apireply::addOk(reply, data);
}

void Preset::setVideoRectOptions(int pos_id, const QString& type, bool enable)
{
    QMutexLocker lock(&positions_mutex);
    const auto it = positions.find(pos_id);
    if (it == positions.end())
        return;
    it->options.insert(type, enable);
    emit sendSingleState(pos_id, type, enable);
    modified = true;
}

bool Preset::getLayoutParams(
    QJsonObject& reply, const QString& pvwSource, const QString& pgmSource, const QString& pro_id) const
{
    QMutexLocker lock(&positions_mutex);
    QJsonArray layout;
    for (auto it = positions.constBegin(); it != positions.constEnd(); ++it) {
        const PresetVideo& v = it.value();
        const int shown = v.number + num_min - 1;
        const bool valid = !BusId::isBus(v.type) && num_max >= 1 && shown <= num_max && num_used;

        QJsonObject mix { { "mix_type", "close" }, { "pvw_enable", false }, { "pgm_enable", false } };
        const QString mixType = GlobalData::instance()->getAudioMixType(pro_id, v.stream_id);
        if (mixType == QLatin1String("always")) {
            mix = { { "mix_type", "always" }, { "pvw_enable", true }, { "pgm_enable", true } };
        } else if (mixType == QLatin1String("follow")) {
            mix = { { "mix_type", "follow" }, { "pvw_enable", v.stream_id == pvwSource },
                { "pgm_enable", v.stream_id == pgmSource } };
        }

        layout.append(placement(it.key(), v,
            {
                { "stream_id", v.stream_id },
                { "stream_name", v.stream_name },
                { "pattern_name", getPatternName(pro_id, v.type, v.stream_id, v.number) },
                { "number_show", shown },
                { "number_valid", valid },
                { "frameRate", double(v.frameRate) },
                { "aspectRatio", v.aspectRatio },
                { "audio_mix", mix },
            }));
    }
    reply.insert("layout_id", layout_id);
    reply.insert("layout_count", layout_count);
    reply.insert("layout_name", layout_name);
    reply.insert("layout", layout);
    return true;
}
