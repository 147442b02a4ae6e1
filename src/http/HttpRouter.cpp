#include "HttpRouter.h"

namespace {
const QString kArg = QStringLiteral("<arg>");
}

bool HttpRouter::addRoute(const QString& pattern, Handler handler, Methods methods, ArgMode mode)
{
    if (!pattern.startsWith(QLatin1Char('/')) || !handler)
        return false;
    if (mode == LastArgTakesRest && !pattern.endsWith(QLatin1Char('/') + kArg))
        return false;
    Route route;
    route.segments = pattern.mid(1).split(QLatin1Char('/'));
    route.methods = methods;
    route.mode = mode;
    route.handler = std::move(handler);
    const int index = int(m_routes.size());
    if (route.segments.contains(kArg))
        m_withArguments.push_back(index);
    else
        m_literal[pattern].push_back(index);
    m_routes.push_back(std::move(route));
    return true;
}

bool HttpRouter::addJsonRoute(const QString& pattern, JsonHandler handler, Methods methods)
{
    if (!handler)
        return false;
    return addRoute(
        pattern,
        [handler = std::move(handler)](
            const HttpRequest& request, HttpResponder& responder) { responder.write(handler(request)); },
        methods);
}

bool HttpRouter::dispatch(HttpRequest& request, HttpResponder& responder) const
{
    const Methods bit = methodBit(request.method());
    const QString path = request.path();
    // The first rule that matches, as if every rule were tried in order.
    int first = -1;
    const auto literal = m_literal.constFind(path);
    if (literal != m_literal.constEnd()) {
        for (int index : *literal) {
            if (m_routes[size_t(index)].takes(bit)) {
                first = index;
                break;
            }
        }
    }
    QStringList arguments;
    for (int index : m_withArguments) {
        if (first >= 0 && index > first)
            break;
        const Route& route = m_routes[size_t(index)];
        QStringList found;
        if (route.takes(bit) && route.match(path, &found)) {
            first = index;
            arguments = found;
            break;
        }
    }
    if (first < 0)
        return false;
    request.m_arguments = arguments;
    m_routes[size_t(first)].handler(request, responder);
    return true;
}

bool HttpRouter::Route::match(const QString& path, QStringList* arguments) const
{
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    int pos = 1; // just past the "/" that opens the current segment
    for (int i = 0; i < segments.size(); ++i) {
        const QString& want = segments.at(i);
        const bool last = i == segments.size() - 1;
        if (last && mode == LastArgTakesRest) {
            arguments->append(path.mid(pos));
            return true;
        }
        const int slash = path.indexOf(QLatin1Char('/'), pos);
        if (last != (slash < 0))
            return false; // the path has fewer or more segments than the pattern
        const QStringRef segment = slash < 0 ? path.midRef(pos) : path.midRef(pos, slash - pos);
        if (want == kArg) {
            if (segment.isEmpty())
                return false;
            arguments->append(segment.toString());
        } else if (segment != want) {
            return false;
        }
        pos = slash + 1;
    }
    return true;
}

HttpRouter::Methods HttpRouter::methodBit(const QByteArray& method)
{
    static const std::pair<const char*, Method> kMethods[] = {
        { "GET", Get },
        { "POST", Post },
        { "PUT", Put },
        { "DELETE", Delete },
        { "HEAD", Head },
        { "OPTIONS", Options },
        { "PATCH", Patch },
    };
    for (const auto& [name, bit] : kMethods) {
        if (method == name)
            return bit;
    }
    return 0;
}
