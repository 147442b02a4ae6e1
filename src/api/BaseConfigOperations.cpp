// BaseConfig: the operations of the control API on WebRTC sessions, as the
// routes call them. Runs on the HTTPS thread.
//
// Until sessions are served, each request gets a well-formed error reply
// and nothing changes.
#include "BaseConfig.h"

#include "HttpRequest.h"

#include <QJsonObject>

namespace {

const QString kUnavailable = QStringLiteral("operation.unavailable");

QJsonObject unavailableReply()
{
    return QJsonObject { { "result", "error" }, { "msg", kUnavailable } };
}

} // namespace

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
