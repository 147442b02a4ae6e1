// BaseConfig: the operations of the control API on programs, windows,
// layouts, presets, source groups, takes, tally and WebRTC sessions, as the
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
#include <QDesktopServices>
#include <QJsonArray>
#include <QUrl>

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

QJsonObject BaseConfig::getSourceResult(SOURCETYPE type, const HttpRequest& request)
{
    if (type != SOURCE_WEB_SITE)
        return unavailableOperation(request, false, false);
    QString msg, username, token;
    if (!verifyCaller(request, msg, username, token, false))
        return errorReply();
    return openWebPage(messageParsing(request)) ? QJsonObject { { "result", "ok" } }
                                                : QJsonObject { { "result", "error" }, { "msg", msg } };
}

bool BaseConfig::openWebPage(const QJsonObject& body)
{
    if (!body.contains(QLatin1String("url")))
        return false;
    // Handed to the desktop's default handler, so only web pages: a file,
    // a script or a program's own scheme must never be opened from a request.
    const QUrl url(body.value(QLatin1String("url")).toString(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qWarning() << "refusing to open a page that is no http or https URL";
        return false;
    }
    // Whether a browser really came up is the desktop's affair; the request
    // was valid.
    QDesktopServices::openUrl(url);
    return true;
}

QJsonObject BaseConfig::getTakeResult(TAKETYPE type, const HttpRequest& request)
{
    return unavailableOperation(request, isPanelOperation(type), true);
}

void BaseConfig::getSourceGroups(QJsonObject& out)
{
    // The reply of a controller without source groups.
    out = QJsonObject { { "result", "ok" }, { "data", QJsonArray() } };
    out.insert("socket_type", "source");
}

void BaseConfig::refreshSourcelist() { }

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
