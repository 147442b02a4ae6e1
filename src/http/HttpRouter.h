#pragma once
// The route table of an HttpServer.
//
// Owned by HttpServer and used on its thread only: routes are added while
// the server is set up, then looked up for every request. Rules are tried in
// the order they were added and the first one whose pattern and method
// filter both match takes the request; the query string never takes part.
//
// A pattern is matched against the whole decoded request path, segment by
// segment. A segment "<arg>" matches one non-empty path segment (no "/");
// with LastArgTakesRest a final "<arg>" instead takes everything after the
// preceding "/", empty and "/" included (a catch-all such as "/<arg>").
// What the placeholders took is in HttpRequest::arguments().
#include "HttpRequest.h"
#include "HttpResponder.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <QHash>

#include <functional>
#include <vector>

class HttpRouter {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponder&)>;
    using JsonHandler = std::function<QJsonObject(const HttpRequest&)>;

    // Method filter of a rule; methods not listed here match AnyMethod only.
    enum Method : unsigned {
        Get = 1u << 0,
        Post = 1u << 1,
        Put = 1u << 2,
        Delete = 1u << 3,
        Head = 1u << 4,
        Options = 1u << 5,
        Patch = 1u << 6,
        AnyMethod = ~0u,
    };
    using Methods = unsigned;

    enum ArgMode {
        SegmentArgs, // every <arg> is one path segment
        LastArgTakesRest, // the final <arg> takes the rest of the path
    };

    // Adds a rule. False (and nothing added) for a pattern that does not
    // start with "/", a LastArgTakesRest pattern that does not end in
    // "<arg>", or an empty handler.
    bool addRoute(const QString& pattern, Handler handler, Methods methods = AnyMethod, ArgMode mode = SegmentArgs);
    // A rule whose handler's object is sent as JSON with status 200.
    bool addJsonRoute(const QString& pattern, JsonHandler handler, Methods methods = AnyMethod);

    // Calls the first matching rule, with request.arguments() filled in.
    // False when no rule matches; the responder is then untouched.
    bool dispatch(HttpRequest& request, HttpResponder& responder) const;

    int size() const { return static_cast<int>(m_routes.size()); }

    // The filter bit of a request method, 0 for methods without one.
    static Methods methodBit(const QByteArray& method);

private:
    struct Route {
        QStringList segments; // pattern split at "/", the leading empty one dropped
        Methods methods;
        ArgMode mode;
        Handler handler;
        bool match(const QString& path, QStringList* arguments) const;
        bool takes(Methods bit) const { return methods == AnyMethod || (methods & bit); }
    };
    std::vector<Route> m_routes;
    // Where to look: a pattern without arguments matches exactly its own
    // text, so those are found by the path; the few with arguments are
    // tried in order. Both hold indexes into m_routes, in the order added.
    QHash<QString, std::vector<int>> m_literal;
    std::vector<int> m_withArguments;
};
