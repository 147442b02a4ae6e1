#include "RegistHttpsRoute.h"

#include "base/ApiReplies.h"
#include "base/ThreadCheck.h"

#include "BaseConfig.h"
#include "CommonInterface.h"
#include "base/Globals.h"
#include "base/ZTLogger.h"
#include "http/HttpServer.h"
#include "http/HttpStaticFiles.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <QThread>
#include <QUrlQuery>

// Design note. The route table is the API: every path, its order and the
// controller operation behind it are fixed, and the browser interface and
// control panels depend on them. Each API route is one line below, grouped
// as the eleven registration functions register them. The handlers hold no
// state; the few routes that log more than the start and done lines log it
// inside their call, between the two.

namespace {

const QString kRoutePrefix = QStringLiteral("/api/v2");

BaseConfig* controller()
{
    return BaseConfig::getInstance();
}

// A route that logs its request body (and URL) before calling the controller.
void logRequestBody(const char* what, const HttpRequest& request, bool withUrl = true)
{
    if (withUrl)
        qDebug() << what << RegistHttpsRoute::loggedBody(request) << RegistHttpsRoute::loggedUrl(request);
    else
        qDebug() << what << RegistHttpsRoute::loggedBody(request);
}

// The program and window routes, which may answer from the GUI thread.
std::function<QJsonObject(const HttpRequest&, HttpResponder&)> programCall(PROGRAMTYPE type)
{
    return [type](const HttpRequest& r, HttpResponder& responder) {
        return controller()->getProgramResult(type, r, responder);
    };
}

std::function<QJsonObject(const HttpRequest&, HttpResponder&)> windowCall(WINDOWTYPE type)
{
    return [type](const HttpRequest& r, HttpResponder& responder) {
        return controller()->getWindowResult(type, r, responder);
    };
}

} // namespace

RegistHttpsRoute::RegistHttpsRoute(const QHostAddress& address)
    : m_address(address)
{
    qDebug() << "RegistHttpsRoute thread id :" << QThread::currentThreadId();
}

RegistHttpsRoute::~RegistHttpsRoute()
{
    destroy();
}

QString RegistHttpsRoute::loggedUrl(const HttpRequest& request)
{
    QUrl url = request.url();
    // User routes carry user names and passwords in the query of a GET;
    // none of them may reach the log.
    if (request.path().startsWith(kRoutePrefix + QStringLiteral("/users/")) && url.hasQuery()) {
        QUrlQuery redacted;
        for (const HttpRequest::QueryItem& item : request.query())
            redacted.addQueryItem(item.first, QStringLiteral("***"));
        url.setQuery(redacted);
    }
    return url.toString();
}

QByteArray RegistHttpsRoute::loggedBody(const HttpRequest& request)
{
    return ZTLogger::clipped(request.body());
}

bool RegistHttpsRoute::initHttpServer()
{
    qDebug() << "initHttpServer thread id :" << QThread::currentThreadId();
    HttpServerConfig config;
    config.identityFolder = g_savePath;
    m_server = std::make_unique<HttpServer>(config);

    createBaseConfigRouters();
    createProgramRouters();
    createSourceRouters();
    createTabPageRouters();
    createLayoutRouters();
    createPanesRouters();
    createTallyRouters();
    createLoginManagerRouters();
    createUserManagerRouters();
    createPanelDeckControl();
    createOtherRouters(); // the catch-all file route must come last

    const int port = g_httpPort;
    if (!m_server->listen(m_address, port)) {
        qDebug() << "HttpServer listen port " << port << "failed!";
        emit listenResult(false, port, m_server->listenError());
        return false;
    }
    emit listenResult(true, port, QString());
    return true;
}

void RegistHttpsRoute::destroy()
{
    qDebug() << "RegistHttpsRoute::destroy" << onMainThread();
    m_server.reset();
    qDebug() << "RegistHttpsRoute::destroy done" << onMainThread();
    emit httpDestroyed();
}

void RegistHttpsRoute::addJsonRoute(const QString& path, JsonCall call, LogLines lines)
{
    addLaterRoute(
        path, [call = std::move(call)](const HttpRequest& request, HttpResponder&) { return call(request); }, lines);
}

void RegistHttpsRoute::addLaterRoute(const QString& path, LaterCall call, LogLines lines)
{
    m_server->router().addRoute(
        kRoutePrefix + path, [call = std::move(call), lines](const HttpRequest& request, HttpResponder& responder) {
            const QString url = lines ? loggedUrl(request) : QString();
            if (lines & StartLine)
                qDebug() << "[Request start] " << url << ", isMain:" << onMainThread();
            const QJsonObject reply = call(request, responder);
            if (!responder.isLater())
                responder.write(reply);
            if (lines & DoneLine)
                qDebug() << "[Request done] " << url << ", isMain:" << onMainThread();
        });
}

void RegistHttpsRoute::addResponderRoute(const QString& path, int code)
{
    m_server->router().addRoute(kRoutePrefix + path, [code](const HttpRequest& request, HttpResponder& responder) {
        CommonInterface::getInstance().handleRequest(request, responder, code);
    });
}

void RegistHttpsRoute::createBaseConfigRouters()
{
    addJsonRoute("/config/nav/nav", [](const HttpRequest&) {
        return apireply::ok(QJsonObject { { "main_nav", QJsonObject { { "home", true }, { "picManage", false } } } });
    });
    addJsonRoute("/config/features/parameter.json", [](const HttpRequest&) {
        return apireply::ok(QJsonObject { { "overlaySet", true } });
    });
    addJsonRoute("/config/features/overlaySet.json", [](const HttpRequest&) {
        return apireply::ok(QJsonObject { { "bg", false }, { "logo", false }, { "soundColumn", true },
            { "securityBox", true }, { "centerline", true } });
    });
    addJsonRoute("/config/general.json", [](const HttpRequest&) { return controller()->qrCodeGetting(); });
    addJsonRoute("/config/features/pattern.json", [](const HttpRequest&) {
        QJsonArray modes;
        for (int mode = 1; mode <= 11; ++mode)
            modes.append(mode);
        return apireply::ok(QJsonObject { { "mode", modes }, { "bgPicture", false } });
    });
    addJsonRoute("/pic/getHide.json", [](const HttpRequest&) {
        // "reuslt" is how browsers of this interface have always read this reply.
        const QJsonArray pictures {
            QJsonObject { { "url", "" }, { "type", "bg" }, { "output", 1 }, { "enable", 1 } },
            QJsonObject { { "url", "" }, { "type", "osd" }, { "output", 1 }, { "enable", 1 }, { "position", "" } },
        };
        return QJsonObject { { "reuslt", "ok" }, { "count", 1000 }, { "data", pictures }, { "code", 0 } };
    });
    addJsonRoute("/lang/modify.json", [](const HttpRequest& r) { return controller()->processLanguage(r); });
}

void RegistHttpsRoute::createProgramRouters()
{
    addJsonRoute("/program/list.json", [](const HttpRequest&) { return controller()->programListJson(); });
    addLaterRoute("/program/add.json", [](const HttpRequest& r, HttpResponder& responder) {
        qDebug() << "program add " << loggedUrl(r) << QThread::currentThreadId();
        return controller()->getProgramResult(PROGRAM_ADD, r, responder);
    });
    addLaterRoute("/program/rename.json", programCall(PROGRAM_RENAME));
    addLaterRoute("/program/remove.json", programCall(PROGRAM_REMOVE));
    addLaterRoute("/program/set_status.json", [](const HttpRequest& r, HttpResponder& responder) {
        qDebug() << "set status " << loggedUrl(r) << loggedBody(r) << QThread::currentThreadId();
        return controller()->getProgramResult(PROGRAM_SET_STATUS, r, responder);
    });
    m_server->router().addRoute(
        kRoutePrefix + "/program/get_param.json", [](const HttpRequest& request, HttpResponder& responder) {
            qDebug() << "[Request start] " << loggedUrl(request) << ", isMain:" << onMainThread();
            CommonInterface::getInstance().handleRequest(request, responder, 3);
            qDebug() << "/program/get_param.json thread id :" << QThread::currentThreadId();
        });
    addLaterRoute("/program/set_param.json", programCall(PROGRAM_SET_PARAM));
    addLaterRoute("/program/switch.json", programCall(PROGRAM_SWITCH));
    addJsonRoute("/program/status.json", [](const HttpRequest& r) { return controller()->getProgramStatus(r); });
}

void RegistHttpsRoute::createSourceRouters()
{
    addJsonRoute("/source/list.json", [](const HttpRequest&) {
        QJsonObject groups;
        controller()->getSourceGroups(groups);
        return groups;
    });
    addJsonRoute("/source/add.json", [](const HttpRequest& r) { return controller()->getSourceResult(SOURCE_ADD, r); });
    addJsonRoute(
        "/source/modify.json", [](const HttpRequest& r) { return controller()->getSourceResult(SOURCE_MODIFY, r); });
    addJsonRoute(
        "/source/remove.json", [](const HttpRequest& r) { return controller()->getSourceResult(SOURCE_REMOVE, r); });
    addJsonRoute("/source/get_param.json",
        [](const HttpRequest& r) { return controller()->getSourceResult(SOURCE_GET_PARAM, r); });
    addJsonRoute("/source/refresh.json", [](const HttpRequest&) {
        controller()->refreshSourcelist();
        return apireply::ok();
    });
    addJsonRoute(
        "/webSite/set.json", [](const HttpRequest& r) { return controller()->getSourceResult(SOURCE_WEB_SITE, r); });
}

void RegistHttpsRoute::createTabPageRouters()
{
    addLaterRoute("/window/list.json", windowCall(WINDOW_LIST));
    addLaterRoute("/window/switch.json", windowCall(WINDOW_SWITCH));
    addLaterRoute("/window/add.json", windowCall(WINDOW_ADD));
    addLaterRoute("/window/set_param.json", windowCall(WINDOW_SET_PARAM));
    addLaterRoute("/window/get_param.json", [](const HttpRequest& r, HttpResponder& responder) {
        qDebug() << "/window/get_param.json thread id :" << QThread::currentThreadId();
        return controller()->getWindowResult(WINDOW_GET_PARAM, r, responder);
    });
    addLaterRoute("/window/remove.json", windowCall(WINDOW_REMOVE));
    addResponderRoute("/window/get_screen_list.json", 8);
    addJsonRoute("/window/get_output_list.json", [](const HttpRequest&) {
        qDebug() << "/window/get_output_list.json thread id :" << QThread::currentThreadId();
        return controller()->getOutputList();
    });
    addResponderRoute("/webrtc/get_sdp.json", 9);
    addJsonRoute("/webrtc/remove_session.json", [](const HttpRequest& r) { return controller()->removeSession(r); });
}

void RegistHttpsRoute::createLayoutRouters()
{
    addJsonRoute("/layout/template.json", [](const HttpRequest&) { return controller()->templateJson(); });
    addJsonRoute(
        "/layout/list.json", [](const HttpRequest& r) { return controller()->getPresetResult(PRESET_LIST, r); });
    addJsonRoute("/layout/add.json", [](const HttpRequest& r) { return controller()->getPresetResult(PRESET_ADD, r); });
    addJsonRoute(
        "/layout/rename.json", [](const HttpRequest& r) { return controller()->getPresetResult(PRESET_RENAME, r); });
    addJsonRoute(
        "/layout/remove.json", [](const HttpRequest& r) { return controller()->getPresetResult(PRESET_REMOVE, r); });
}

void RegistHttpsRoute::createPanesRouters()
{
    const auto grid = [this](const QString& path, GRIDTYPE type, const char* logged = nullptr, bool withUrl = true) {
        addJsonRoute(path, [type, logged, withUrl](const HttpRequest& r) {
            if (logged)
                logRequestBody(logged, r, withUrl);
            return controller()->getGridResult(type, r);
        });
    };
    addJsonRoute(
        "/resolution/list.json", [](const HttpRequest&) { return controller()->resolutionList(); }, StartLine);
    addJsonRoute("/frameRate/list.json", [](const HttpRequest&) { return controller()->frameRateList(); });
    addResponderRoute("/window/get_position.json", 2);
    grid("/window/set_position.json", GRID_SET_POSITION);
    grid("/window/get_output_type.json", GRID_GET_OUTPUT_TYPE);
    grid("/window/set_output_type.json", GRID_SET_OUTPUT_TYPE, "window set_output_type request :");
    grid("/window/ndi/set_param.json", GRID_SET_NDI_PARAM, "window ndi set request :");
    grid("/window/ndi/get_param.json", GRID_GET_NDI_PARAM);
    grid("/window/get_state_control.json", GRID_GET_STATE_CONTROL);
    grid("/window/set_state_control.json", GRID_SET_STATE_CONTROL);
    grid("/window/set_layout.json", GRID_SET_LAYOUT, "window set layout request :");
    grid("/window/reload_layout.json", GRID_RELOAD_LAYOUT);
    grid("/layout/modify.json", GRID_MODIFY_LAYOUT);
    grid("/layout/save.json", GRID_SAVE_LAYOUT);
    grid("/layout/resave.json", GRID_RESAVE_LAYOUT);
    grid("/window/delete_sources.json", GRID_DELETE_SOURCES);
    grid("/window/remove_source.json", GRID_REMOVE_SOURCE);
    grid("/window/set_source.json", GRID_SET_SOURCE, "window set_source request :", false);
    grid("/window/get_single_layout.json", GRID_GET_SINGLE_LAYOUT);
    grid("/window/set_single_layout.json", GRID_SET_SINGLE_LAYOUT);
    grid("/window/set_audio_type.json", GRID_SET_AUDIO_TYPE);
}

void RegistHttpsRoute::createTallyRouters()
{
    addJsonRoute("/take/set.json", [](const HttpRequest& r) {
        qDebug() << "take set request:" << loggedBody(r) << QThread::currentThreadId();
        return controller()->getTakeResult(TAKE_SET, r);
    });
    addJsonRoute(
        "/take/set_params.json", [](const HttpRequest& r) { return controller()->getTakeResult(TAKE_SET_PARAMS, r); });
    addJsonRoute(
        "/take/get.json", [](const HttpRequest& r) { return controller()->getTakeResult(TAKE_GET, r); }, StartLine);
    addJsonRoute("/take/transition/list.json", [](const HttpRequest&) { return controller()->getTakeTransitions(); });
    addJsonRoute("/pvw/stream_get.json",
        [](const HttpRequest& r) { return controller()->getGridResult(GRID_PVW_STREAM_GET, r); });
    addJsonRoute("/pgm/stream_get.json",
        [](const HttpRequest& r) { return controller()->getGridResult(GRID_PGM_STREAM_GET, r); });
}

void RegistHttpsRoute::createLoginManagerRouters()
{
    // Its password hash runs off this thread; the reply may come later.
    addLaterRoute("/users/login.json",
        [](const HttpRequest& r, HttpResponder& responder) { return controller()->userLogin(r, responder); });
    addJsonRoute(
        "/users/logout.json", [](const HttpRequest& r) { return controller()->getUserResult(USER_LOGOUT, r); });
    addJsonRoute("/users/info.json", [](const HttpRequest& r) { return controller()->getUserResult(USER_INFO, r); });
    // Browsers poll this one; it stays out of the log.
    addJsonRoute(
        "/users/session.json", [](const HttpRequest& r) { return controller()->getUserResult(USER_SESSION, r); },
        NoLines);
}

void RegistHttpsRoute::createUserManagerRouters()
{
    addJsonRoute("/users/list.json", [](const HttpRequest& r) { return controller()->getUserResult(USER_LIST, r); });
    addJsonRoute("/users/add.json", [](const HttpRequest& r) { return controller()->getUserResult(USER_ADD, r); });
    addJsonRoute(
        "/users/remove.json", [](const HttpRequest& r) { return controller()->getUserResult(USER_REMOVE, r); });
    addJsonRoute(
        "/users/modify.json", [](const HttpRequest& r) { return controller()->getUserResult(USER_MODIFY, r); });
}

void RegistHttpsRoute::createPanelDeckControl()
{
    addJsonRoute("/window/set_num_range.json", [](const HttpRequest& r) {
        logRequestBody("set_num_range request :", r);
        return controller()->getGridResult(GRID_SET_NUM_RANGE, r);
    });
    addResponderRoute("/window/get_num_range.json", 22);
    addJsonRoute("/ptz/set.json", [](const HttpRequest& r) {
        logRequestBody("ptz set request :", r);
        return controller()->getGridResult(GRID_PTZ_SET, r);
    });
}

void RegistHttpsRoute::createOtherRouters()
{
    addJsonRoute("/tally/<arg>/get.json", [](const HttpRequest& r) {
        QJsonObject tally;
        controller()->getTallyStates(r.arguments().value(0), tally);
        return tally;
    });

    // Every path that no API route took. HttpStaticFiles answers 404 for a
    // path that leads out of the resource folder ("..", links), so the
    // decoded path can be handed over as it is.
    m_server->router().addRoute(
        QStringLiteral("/<arg>"),
        [files = HttpStaticFiles(g_resPath)](const HttpRequest& request, HttpResponder& responder) {
            const QString url = loggedUrl(request);
            qDebug() << "[Request start] " << url << ", isMain:" << onMainThread();
            qDebug() << "route thread id :" << QThread::currentThreadId();
            responder.write(files.serve(request.arguments().value(0)));
            qDebug() << "[Request done] " << url << ", isMain:" << onMainThread();
        },
        HttpRouter::AnyMethod, HttpRouter::LastArgTakesRest);
}
