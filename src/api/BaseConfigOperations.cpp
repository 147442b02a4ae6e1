// BaseConfig: the operations of the control API on programs, windows,
// layouts, presets, takes, tally and WebRTC sessions, as the
// routes and the WebSocket channel call them. Runs on the HTTPS thread (the
// WebSocket-side ones on the controller's worker thread).
//
// Each operation that is not yet available still verifies its caller as it
// will then, and answers every request with an error reply, so a browser
// gets a well-formed answer and nothing changes.
#include "BaseConfig.h"

#include "HttpRequest.h"
#include "ProjectObject.h"

#include <QDebug>
#include <QJsonArray>

namespace {

const QString kUnavailable = QStringLiteral("operation.unavailable");

QJsonObject errorReply()
{
    return QJsonObject { { "result", "error" } };
}

QJsonObject unavailableReply()
{
    return QJsonObject { { "result", "error" }, { "msg", kUnavailable } };
}

} // namespace

QJsonObject BaseConfig::unavailableOperation(const HttpRequest& request, bool panelOperation, bool tokenMessage)
{
    QString msg, username, token;
    if (!verifyCaller(request, msg, username, token, panelOperation))
        return tokenMessage ? QJsonObject { { "result", "error" }, { "msg", msg } } : errorReply();
    return unavailableReply();
}

QJsonObject BaseConfig::getProgramResult(PROGRAMTYPE type, const HttpRequest& request)
{
    Q_UNUSED(type)
    return unavailableOperation(request, false, false);
}

QJsonObject BaseConfig::getProgramStatus(const HttpRequest& request)
{
    const QJsonObject body = messageParsing(request);
    if (!body.contains(QLatin1String("pro_id")))
        return errorReply();
    // getProgram reads the map under programsMutex: a program being added
    // or removed on the GUI thread is never seen half made.
    return getProgram(body.value(QLatin1String("pro_id")).toString()) ? QJsonObject { { "result", "ok" } }
                                                                      : errorReply();
}

QJsonObject BaseConfig::getWindowResult(WINDOWTYPE type, const HttpRequest& request)
{
    Q_UNUSED(type)
    return unavailableOperation(request, false, false);
}

QJsonObject BaseConfig::getGridResult(GRIDTYPE type, const HttpRequest& request)
{
    return unavailableOperation(request, isPanelOperation(type), false);
}

QJsonObject BaseConfig::getPresetResult(PRESETTYPE type, const HttpRequest& request)
{
    Q_UNUSED(type)
    return unavailableOperation(request, false, false);
}

QJsonObject BaseConfig::getTakeResult(TAKETYPE type, const HttpRequest& request)
{
    return unavailableOperation(request, isPanelOperation(type), true);
}

void BaseConfig::getTallyStates(const QString& pro_id, QJsonObject& out)
{
    Q_UNUSED(pro_id)
    out = errorReply();
    out.insert("socket_type", "tally");
}

void BaseConfig::setPtzStates(const QString& pro_id, const QJsonObject& message, QJsonObject& out)
{
    Q_UNUSED(pro_id)
    Q_UNUSED(message)
    out = errorReply();
}

void BaseConfig::setTakeStates(const QString& pro_id, const QJsonObject& message, QJsonObject& out)
{
    Q_UNUSED(pro_id)
    Q_UNUSED(message)
    out = errorReply();
}

void BaseConfig::switchSource(const QJsonObject& message, QJsonObject& out)
{
    Q_UNUSED(message)
    out = errorReply();
}

QJsonObject BaseConfig::getSdp(const HttpRequest& request)
{
    Q_UNUSED(request)
    return unavailableReply();
}

QJsonObject BaseConfig::removeSession(const HttpRequest& request)
{
    Q_UNUSED(request)
    return unavailableReply();
}
