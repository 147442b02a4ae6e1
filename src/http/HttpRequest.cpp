#include "HttpRequest.h"

QString HttpRequest::queryValue(const QString& key) const
{
    for (auto it = m_query.crbegin(); it != m_query.crend(); ++it) {
        if (it->first == key)
            return it->second;
    }
    return QString();
}

bool HttpRequest::hasQueryItem(const QString& key) const
{
    for (const QueryItem& item : m_query) {
        if (item.first == key)
            return true;
    }
    return false;
}

QByteArray HttpRequest::header(const QByteArray& name) const
{
    for (const Header& h : m_headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

bool HttpRequest::hasHeader(const QByteArray& name) const
{
    for (const Header& h : m_headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QList<HttpRequest::QueryItem> HttpRequest::parseQuery(const QByteArray& rawQuery)
{
    QList<QueryItem> items;
    for (const QByteArray& piece : rawQuery.split('&')) {
        const int eq = piece.indexOf('=');
        if (eq <= 0)
            continue; // empty piece, no "=", or empty key
        const int end = piece.indexOf('=', eq + 1);
        const QByteArray key = piece.left(eq);
        const QByteArray value = piece.mid(eq + 1, end < 0 ? -1 : end - eq - 1);
        items.append({ QUrl::fromPercentEncoding(key), QUrl::fromPercentEncoding(value) });
    }
    return items;
}
