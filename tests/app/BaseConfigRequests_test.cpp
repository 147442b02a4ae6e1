// The request frame: how a request becomes one JSON object, and who is
// calling. Requests arrive over a real TLS connection to a small server whose
// one route hands back what the controller made of the request.
#include "../http/HttpTestClient.h"

#include "TestSupport.h"
#include "api/UsersManager.h"
#include "app/BaseConfig.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <vector>

namespace {

class RequestFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_server.router().addJsonRoute(
            "/api/v2/<arg>", [this](const HttpRequest& request) { return m_controller.messageParsing(request); });
        ASSERT_TRUE(httptest::listenOnFreePort(m_server));
        ASSERT_TRUE(m_client.connectTo(m_server.serverPort()));
    }

    QJsonObject parsed(const QByteArray& method, const QByteArray& target, const QByteArray& body = QByteArray())
    {
        const int before = m_client.completeCount();
        m_client.send(method + " " + target
            + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        EXPECT_TRUE(m_client.waitReplies(before + 1));
        return QJsonDocument::fromJson(m_client.replies().value(before).body).object();
    }

    testsupport::TempHome m_home;
    BaseConfig m_controller;
    HttpServer m_server;
    httptest::Client m_client;
};

TEST_F(RequestFrame, QueryAndBodyBecomeOneObject)
{
    const QJsonArray oneTwo { "1", "2" };
    struct Case {
        const char* name;
        QByteArray method, target, body;
        QJsonObject expected;
    };
    const std::vector<Case> cases {
        { "query values are strings", "GET", "/api/v2/x.json?pro_id=3", {}, { { "pro_id", "3" } } },
        { "keys with [] collect an array", "GET", "/api/v2/x.json?ids[]=1&ids[]=2", {}, { { "ids", oneTwo } } },
        { "one array, under the last such key", "GET", "/api/v2/x.json?a[]=1&b[]=2", {}, { { "b", oneTwo } } },
        { "encoded brackets too", "GET", "/api/v2/x.json?ids%5B%5D=1&ids%5B%5D=2", {}, { { "ids", oneTwo } } },
        { "text after a second = is dropped", "GET", "/api/v2/x.json?a=1=2", {}, { { "a", "1" } } },
        { "an empty value", "GET", "/api/v2/x.json?a=", {}, { { "a", "" } } },
        { "no key, no =", "GET", "/api/v2/x.json?=5&flag", {}, {} },
        { "later wins", "GET", "/api/v2/x.json?a=1&a=2", {}, { { "a", "2" } } },
        { "encoded & and = stay in the value", "GET", "/api/v2/x.json?name=x%26y%3Dz&n=1", {},
            { { "name", "x&y=z" }, { "n", "1" } } },
        { "+ stays +", "GET", "/api/v2/x.json?q=a+b%20c", {}, { { "q", "a+b c" } } },
        { "JSON keeps its types", "POST", "/api/v2/x.json", R"({"pro_id":1,"on":true,"a":[1]})",
            { { "pro_id", 1 }, { "on", true }, { "a", QJsonArray { 1 } } } },
        { "JSON is read as it stands", "POST", "/api/v2/x.json", R"({"p":"a%41%26"})", { { "p", "a%41%26" } } },
        { "encoded JSON is decoded once", "POST", "/api/v2/x.json", "%7B%22a%22%3A%22b%22%7D", { { "a", "b" } } },
        { "a form body", "POST", "/api/v2/x.json", "pro_id=7&name=A", { { "pro_id", "7" }, { "name", "A" } } },
        { "a form body splits before decoding", "POST", "/api/v2/x.json", "name=x%26y", { { "name", "x&y" } } },
        { "a JSON array is no object", "POST", "/api/v2/x.json", "[1,2]", {} },
        { "a POST reads only its body", "POST", "/api/v2/x.json?pro_id=3", {}, {} },
        { "other methods read nothing", "PUT", "/api/v2/x.json?pro_id=3", R"({"pro_id":"3"})", {} },
        { "no UTF-8", "POST", "/api/v2/x.json", "\xff\xfe\x80", {} },
    };
    for (const Case& c : cases)
        EXPECT_EQ(parsed(c.method, c.target, c.body), c.expected) << c.name;
}

TEST_F(RequestFrame, TheAppHeaderIdentifiesTheCaller)
{
    m_controller.getUsersManager()->initDataBase();
    const QJsonObject login = m_controller.getUsersManager()->userLogin(
        { { "username", "admin" }, { "password", "vexmo" }, { "remoteAddr", "127.0.0.1" } });
    const QString token = login.value("data").toObject().value("token").toString();
    ASSERT_FALSE(token.isEmpty());
    const auto header = [](const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); };

    struct Case {
        const char* name;
        QByteArray app;
        bool panelOperation;
        bool passes;
        QString msg, username;
    };
    const std::vector<Case> cases {
        { "a login", header({ { "username", "admin" }, { "token", token } }), false, true, "", "admin" },
        { "no header", "", false, false, "Token.Error", "" },
        { "not JSON", "admin:token", false, false, "Token.Error", "" },
        { "another user's name", header({ { "username", "bob" }, { "token", token } }), false, false, "Token.Error",
            "bob" },
        { "a wrong token", header({ { "username", "admin" }, { "token", QString(32, 'a') } }), false, false,
            "Token.Error", "admin" },
        { "a panel, on a panel operation", header({ { "terminalType", 1 } }), true, true, "", "" },
        { "a panel, on anything else", header({ { "terminalType", "x" } }), false, false, "Token.Error", "" },
        { "a panel naming a user", header({ { "terminalType", 1 }, { "username", "admin" } }), true, true, "",
            "admin" },
    };
    for (const Case& c : cases) {
        QString msg, username, token;
        EXPECT_EQ(m_controller.checkToken(c.app, msg, username, token, c.panelOperation), c.passes) << c.name;
        EXPECT_EQ(msg, c.msg) << c.name;
        EXPECT_EQ(username, c.username) << c.name;
    }

    const std::vector<std::pair<GRIDTYPE, bool>> grid { { GRID_SET_SOURCE, true }, { GRID_SET_NUM_RANGE, true },
        { GRID_GET_NUM_RANGE, true }, { GRID_PTZ_SET, true }, { GRID_SET_LAYOUT, false }, { GRID_SET_POSITION, false },
        { GRID_PVW_STREAM_GET, false } };
    for (const auto& [type, panel] : grid)
        EXPECT_EQ(BaseConfig::isPanelOperation(type), panel) << int(type);
    EXPECT_TRUE(BaseConfig::isPanelOperation(TAKE_SET));
    EXPECT_FALSE(BaseConfig::isPanelOperation(TAKE_SET_PARAMS));
}

} // namespace
