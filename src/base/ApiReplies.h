#pragma once
// Reply envelopes of the control API and the WebSocket, and the input checks
// shared by the request handlers. Every {"result": ...} reply is made here.
#include "BusIds.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace apireply {

inline QJsonObject ok()
{
    return QJsonObject { { "result", "ok" } };
}

// Success with what was asked for: {"result": "ok", "data": data}.
inline QJsonObject ok(const QJsonValue& data)
{
    return QJsonObject { { "result", "ok" }, { "data", data } };
}

// The same envelopes written into a reply that may carry other members already.
inline void addOk(QJsonObject& reply, const QJsonValue& data)
{
    reply.insert("result", "ok");
    reply.insert("data", data);
}

inline void addError(QJsonObject& reply)
{
    reply.insert("result", "error");
}

// A failure without a text: the caller or the program was not accepted.
inline QJsonObject error()
{
    return QJsonObject { { "result", "error" } };
}

// A failure of the operation itself, with its message key (maybe empty).
inline QJsonObject error(const QString& msg)
{
    return QJsonObject { { "result", "error" }, { "msg", msg } };
}

inline QJsonObject result(bool done, const QString& msg)
{
    return done ? ok() : error(msg);
}

// Canvas sizes and rates reach divisions, buffer sizes and the encoder:
// zero, negative or absurd values are refused before they are stored.
inline bool validCanvas(double width, double height, double frameRate)
{
    const auto side = [](double v) { return v >= 16.0 && v <= 8192.0; };
    return side(width) && side(height) && frameRate > 0.0 && frameRate <= 240.0;
}

// Window and preset ids end up in file names ("window_<id>.json"): the
// controller only makes decimal ids, besides the two bus windows. Empty
// stands for "none given".
inline bool validWindowId(const QString& id)
{
    if (BusId::isBus(id))
        return true;
    for (const QChar c : id) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return id.size() <= 18;
}

inline bool validPresetId(const QString& id)
{
    return !BusId::isBus(id) && validWindowId(id);
}

// Names ride on every list and push: a longer one is refused with this key.
constexpr int kMaxNameLength = 256;
inline QString nameTooLongMsg()
{
    return QStringLiteral("name.tooLong");
}
inline bool nameTooLong(const QJsonObject& request, const char* key = "name")
{
    return request.value(QLatin1String(key)).toString().size() > kMaxNameLength;
}

// A request's flag: a JSON boolean, or the text "true"/"false" that the
// query form of a GET gives.
inline bool flagValue(const QJsonValue& value)
{
    if (value.isString())
        return value.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    return value.toBool(false);
}

} // namespace apireply
