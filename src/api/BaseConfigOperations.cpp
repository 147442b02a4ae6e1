// BaseConfig: the operations of the control API on source groups and WebRTC
// sessions, as the routes and the WebSocket channel call them. Runs on the
// HTTPS thread (the WebSocket-side ones on the controller's worker thread).
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

void BaseConfig::getSourceGroups(QJsonObject& out)
{
    // The reply of a controller without source groups.
    out = QJsonObject { { "result", "ok" }, { "data", QJsonArray() } };
    out.insert("socket_type", "source");
}

void BaseConfig::refreshSourcelist() { }

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
