#include "PtzControl.h"

#include "sources/MediaConnection.h"
#include "sources/ServedSources.h"

#include <QDebug>
#include <QMutex>
#include <QVariant>

#include <vector>

namespace {

// Values arrive as numbers or numeric text; anything else counts as 0.
float toFloat(const QJsonValue& value)
{
    return value.toVariant().toFloat();
}

struct Command {
    const char* type;
    std::vector<const char*> keys; // all required
    std::function<bool(PtzControl&, const QJsonObject&)> call;
};

const std::vector<Command>& commands()
{
    using D = const QJsonObject&;
    static const std::vector<Command> table {
        { "ptz_zoom", { "zoom_value" }, [](PtzControl& c, D d) { return c.setPtzZoom(toFloat(d["zoom_value"])); } },
        { "ptz_zoom_speed", { "zoom_speed" },
            [](PtzControl& c, D d) {
                const float speed = toFloat(d["zoom_speed"]);
                qDebug() << "[setPtzControl] zoom_speed :" << speed;
                return c.setPtzZoomSpeed(speed);
            } },
        { "ptz_pan_tilt", { "pan_value", "tilt_value" },
            [](PtzControl& c, D d) { return c.setPtzPanTilt(toFloat(d["pan_value"]), toFloat(d["tilt_value"])); } },
        { "ptz_pan_tilt_speed", { "pan_speed", "tilt_speed" },
            [](PtzControl& c, D d) {
                return c.setPtzPanTiltSpeed(toFloat(d["pan_speed"]), toFloat(d["tilt_speed"]));
            } },
        { "ptz_store_preset", { "preset_no" },
            [](PtzControl& c, D d) { return c.setPtzStorePreset(d["preset_no"].toInt()); } },
        { "ptz_recall_preset", { "preset_no", "speed" },
            [](PtzControl& c, D d) { return c.setPtzRecallPreset(d["preset_no"].toInt(), toFloat(d["speed"])); } },
        { "ptz_auto_focus", {}, [](PtzControl& c, D) { return c.setPtzAutoFocus(); } },
        { "ptz_focus", { "focus_value" }, [](PtzControl& c, D d) { return c.setPtzFocus(toFloat(d["focus_value"])); } },
        { "ptz_focus_speed", { "focus_speed" },
            [](PtzControl& c, D d) { return c.setPtzFocusSpeed(toFloat(d["focus_speed"])); } },
        { "ptz_white_balance_auto", {}, [](PtzControl& c, D) { return c.setPtzWhiteBalanceAuto(); } },
        { "ptz_white_balance_indoor", {}, [](PtzControl& c, D) { return c.setPtzWhiteBalanceIndoor(); } },
        { "ptz_white_balance_outdoor", {}, [](PtzControl& c, D) { return c.setPtzWhiteBalanceOutdoor(); } },
        { "ptz_white_balance_oneshot", {}, [](PtzControl& c, D) { return c.setPtzWhiteBalanceOneshot(); } },
        { "ptz_white_balance_manual", { "red", "blue" },
            [](PtzControl& c, D d) { return c.setPtzWhiteBalanceManual(toFloat(d["red"]), toFloat(d["blue"])); } },
        { "ptz_exposure_auto", {}, [](PtzControl& c, D) { return c.setPtzExposureAuto(); } },
        // The level is optional: a missing one sets 0.
        { "ptz_exposure_manual", {},
            [](PtzControl& c, D d) { return c.setPtzExposureManual(toFloat(d["exposure_level"])); } },
        { "ptz_is_supported", {}, [](PtzControl& c, D) { return c.isSupportPtz(); } },
    };
    return table;
}

// The live connection of the named source in the table the application
// serves. The controller's table rather than a manager of its own keeps
// commands and the source routes on the same table, and sends none to a
// manager shutdown has already stopped.
std::shared_ptr<PtzControl> sourceConnection(const QString& source)
{
    std::shared_ptr<MediaConnection> connection = ServedSources::connectionOf(source);
    return connection ? std::make_shared<PtzConnection<MediaConnection>>(std::move(connection)) : nullptr;
}

QMutex lookupMutex;
PtzControl::Lookup& currentLookup()
{
    static PtzControl::Lookup lookup = sourceConnection;
    return lookup;
}

} // namespace

bool PtzControl::apply(const QString& type, const QJsonObject& data)
{
    for (const Command& command : commands()) {
        if (type != QLatin1String(command.type))
            continue;
        for (const char* key : command.keys) {
            if (!data.contains(QLatin1String(key))) {
                QStringList names;
                for (const char* k : command.keys)
                    names << k;
                qDebug() << QString("error: %1 don't have %2.").arg(type, names.join(" or "));
                return false;
            }
        }
        if (command.call(*this, data))
            return true;
        break;
    }
    qDebug() << QString("error: %1 set failed.").arg(type);
    return false;
}

std::shared_ptr<PtzControl> PtzControl::connectionOf(const QString& source)
{
    Lookup lookup;
    {
        QMutexLocker lock(&lookupMutex);
        lookup = currentLookup();
    }
    return lookup(source);
}

void PtzControl::setLookup(Lookup lookup)
{
    QMutexLocker lock(&lookupMutex);
    currentLookup() = lookup ? std::move(lookup) : Lookup(sourceConnection);
}
