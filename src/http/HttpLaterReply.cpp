#include "HttpLaterReply.h"

#include "HttpConnection.h"

#include <QMutexLocker>

HttpLaterReply::HttpLaterReply(std::shared_ptr<Mailbox> mailbox, HttpConnection* connection, quint64 request)
    : m_mailbox(std::move(mailbox))
    , m_connection(connection)
    , m_request(request)
{
}

void HttpLaterReply::send(std::function<HttpResponse()> make) const
{
    if (!m_mailbox || !make)
        return;
    // Held while posting, so the server cannot go between the check and the post.
    QMutexLocker lock(&m_mailbox->mutex);
    if (!m_mailbox->server)
        return;
    QMetaObject::invokeMethod(
        m_mailbox->server,
        [connection = m_connection, request = m_request, make = std::move(make)] {
            const HttpResponse response = make();
            if (connection)
                connection->sendLater(request, response);
        },
        Qt::QueuedConnection);
}
