#include "HttpResponder.h"

#include <QDebug>

void HttpResponder::write(const HttpResponse& response)
{
    if (m_written) {
        qWarning() << "[http] a second reply to one request was dropped, status" << response.statusCode();
        return;
    }
    m_response = response;
    m_written = true;
}

void HttpResponder::write(const QJsonObject& object, int status)
{
    write(HttpResponse::json(object, status));
}

HttpLaterReply HttpResponder::later()
{
    m_later = true;
    return m_makeLater ? m_makeLater() : HttpLaterReply();
}
