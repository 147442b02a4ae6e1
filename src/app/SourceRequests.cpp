// BaseConfig: the control API's source group operations, the source-groups
// object of the list route and of the WebSocket source push, the forced
// rediscovery, and the web page a browser asks this machine to open.
// Runs on the HTTPS thread; getSourceGroups also on the controller's worker
// thread (the WebSocket request and the periodic push).
//
// Nothing here locks: the source manager guards its own tables, and it saves
// "sources.json" itself after each change. Browsers learn of a change from
// the next periodic source push, so no push is queued here.
#include "BaseConfig.h"

#include "base/ApiReplies.h"

#include "http/HttpRequest.h"
#include "sources/SourceManager.h"

#include <QDebug>
#include <QDesktopServices>
#include <QJsonArray>
#include <QUrl>

QJsonObject BaseConfig::getSourceResult(SOURCETYPE type, const HttpRequest& request)
{
    QString msg, username, token;
    if (!verifyCaller(request, msg, username, token, false))
        return apireply::error();
    const QJsonObject body = messageParsing(request);
    // The source manager's own messages only: whatever the token check left
    // in msg is not for this reply.
    msg.clear();

    SourceManager* manager = sourceManager;
    bool done = false;
    switch (type) {
    case SOURCE_ADD:
    case SOURCE_MODIFY:
    case SOURCE_REMOVE:
        if (!manager)
            return apireply::error(msg);
        if (type == SOURCE_ADD)
            done = manager->addSourceList(body, msg);
        else if (type == SOURCE_MODIFY)
            done = manager->modifySourceList(body, msg);
        else
            done = manager->removeSourceList(body);
        break;
    case SOURCE_GET_PARAM:
        return getSourceList(body);
    case SOURCE_WEB_SITE:
        done = openWebPage(body);
        break;
    default:
        break;
    }
    return done ? apireply::ok() : apireply::error(msg);
}

QJsonObject BaseConfig::getSourceList(const QJsonObject& request)
{
    SourceManager* manager = sourceManager;
    if (!manager)
        return apireply::error();
    return manager->getSourceList(request);
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
    if (SourceManager* manager = sourceManager)
        out = manager->sourcesToJson();
    else
        out = apireply::ok(QJsonArray());
    // In the same object as the groups: the list route's reply and the
    // WebSocket push are one shape.
    out.insert("socket_type", "source");
}

void BaseConfig::refreshSourcelist()
{
    // Only raises the request; the discovery thread remakes the finders in
    // its next pass, so the route answers before anything new is found.
    if (SourceManager* manager = sourceManager)
        manager->forceRefresh();
}
