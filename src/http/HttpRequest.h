#pragma once
// One parsed HTTP request, as handed to a route handler.
//
// Made by HttpConnection on the HTTPS server thread from what the parser
// delivered, then passed by const reference to exactly one handler; it owns
// plain values only and can be copied freely.
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

class HttpRequest {
public:
    using QueryItem = QPair<QString, QString>;
    using Header = QPair<QByteArray, QByteArray>;

    // Method as sent on the request line, e.g. "GET", "POST".
    QByteArray method() const { return m_method; }
    // The request as a URL: scheme "https", host and port from the Host
    // header, the path and the query as sent (still percent-encoded).
    QUrl url() const { return m_url; }
    // Path with every percent escape decoded; this is what routes match.
    QString path() const { return m_path; }

    // Query parameters in the order sent. The raw query is split into
    // pieces at "&" and each piece at "=" before anything is decoded, so an
    // encoded "&" or "=" stays inside its key or value; "+" is kept as "+".
    // Empty pieces, pieces without "=" and pieces with an empty key are
    // dropped; text after a second "=" in a piece is dropped.
    QList<QueryItem> query() const { return m_query; }
    // Value of the last parameter named key, or an empty string.
    QString queryValue(const QString& key) const;
    bool hasQueryItem(const QString& key) const;

    // Header fields in the order sent, names as sent.
    QList<Header> headers() const { return m_headers; }
    // Value of the first field whose name matches name case-insensitively.
    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;

    QByteArray body() const { return m_body; }
    QHostAddress remoteAddress() const { return m_remoteAddress; }

    // Texts that the matching route's <arg> placeholders took, in order.
    QStringList arguments() const { return m_arguments; }

    // Splits a raw (still encoded) query by the rules of query().
    static QList<QueryItem> parseQuery(const QByteArray& rawQuery);

private:
    friend class HttpConnection;
    friend class HttpRouter;

    QByteArray m_method;
    QUrl m_url;
    QString m_path;
    QList<QueryItem> m_query;
    QList<Header> m_headers;
    QByteArray m_body;
    QHostAddress m_remoteAddress;
    QStringList m_arguments;
};
