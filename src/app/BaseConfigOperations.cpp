// BaseConfig: the operations of the control API on WebRTC sessions, as the
// routes call them. Runs on the HTTPS thread.
#include "BaseConfig.h"

#include "base/ApiReplies.h"

#include "http/HttpRequest.h"
#include "model/ProjectObject.h"
#include "webrtc/WebrtcManager.h"

#include <QDebug>
#include <QJsonObject>
#include <QMutexLocker>

namespace {

} // namespace

QJsonObject BaseConfig::getSdp(const HttpRequest& request)
{
    const QJsonObject body = messageParsing(request);
    if (!body.contains("pro_id") || !body.contains("win_id") || !body.contains("ip"))
        return apireply::error();
    const QString pro_id = body.value("pro_id").toVariant().toString();
    QString win_id = body.value("win_id").toVariant().toString();
    const QString ip = body.value("ip").toVariant().toString();
    {
        // The route needs no token: an offer is made only for a window that
        // exists, so a stranger cannot open sessions under made-up ids.
        QMutexLocker lock(&programsMutex);
        const QSharedPointer<ProjectObject> program = programs.value(pro_id);
        if (!program)
            return apireply::error();
        if (win_id.isEmpty())
            win_id = program->getFirstWinId();
        if (win_id.isEmpty() || !program->getWindow(win_id))
            return apireply::error();
    }
    if (!webrtcManager)
        return apireply::error();
    return webrtcManager->getSdpJson(pro_id, win_id, ip, request.remoteAddress());
}

QJsonObject BaseConfig::removeSession(const HttpRequest& request)
{
    qDebug() << "remove webrtc session.";
    const QJsonObject body = messageParsing(request);
    if (!body.contains("session_id") || !webrtcManager)
        return apireply::error();
    webrtcManager->removeSession(body.value("session_id").toVariant().toString());
    return apireply::ok();
}
