#include "HttpTestClient.h"
#include "http/HttpServer.h"
#include "http/HttpStaticFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// root/ is what is served; outside/ is beside it and must never be reached.
class StaticFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QDir base(m_dir.path());
        ASSERT_TRUE(base.mkpath("root/qml") && base.mkpath("outside"));
        write("root/index.html", "<html>home</html>");
        write("root/qml/index.html", "<html>qml</html>");
        write("root/app.js", "let a = 1;\n");
        write("root/style.css", "body { color: red; }\n");
        write("root/data.json", "{\"a\": 1}");
        write("root/icon.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
        write("root/logo.png", QByteArray::fromHex("89504e470d0a1a0a0000000d49484452"));
        write("root/with space.txt", "spaced");
        write("outside/secret.txt", "secret");
        ASSERT_TRUE(QFile::link(path("outside/secret.txt"), path("root/link-out")));
        ASSERT_TRUE(QFile::link(path("outside"), path("root/dir-out")));
        ASSERT_TRUE(QFile::link(path("root/app.js"), path("root/link-in")));
    }

    QString path(const QString& rel) const { return m_dir.path() + "/" + rel; }
    QString root() const { return path("root"); }

    void write(const QString& rel, const QByteArray& content)
    {
        QFile f(path(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(StaticFilesTest, ServesFilesBelowTheRootOnly)
{
    const HttpStaticFiles files(root());
    struct Case {
        QString path;
        int status;
        QByteArray body;
    };
    const Case cases[] = {
        { "", 200, "<html>home</html>" },
        { "index.html", 200, "<html>home</html>" },
        { "qml/index.html", 200, "<html>qml</html>" },
        { "qml/../index.html", 200, "<html>home</html>" },
        { "with space.txt", 200, "spaced" },
        { "link-in", 200, "let a = 1;\n" },
        { "qml/", 404, "" }, // a folder is not completed to its index
        { "qml", 404, "" },
        { "index.html/", 404, "" },
        { "missing.html", 404, "" },
        { "../outside/secret.txt", 404, "" },
        { "qml/../../outside/secret.txt", 404, "" },
        { "..", 404, "" },
        { "link-out", 404, "" },
        { "dir-out/secret.txt", 404, "" },
        { "/etc/passwd", 404, "" },
        { QString("index.html") + QChar(0) + "x", 404, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const HttpResponse r = files.serve(c.path);
        EXPECT_EQ(r.statusCode(), c.status);
        EXPECT_EQ(r.body(), c.body);
    }
    EXPECT_EQ(HttpStaticFiles(path("no-such-root")).serve("").statusCode(), 404);
}

TEST_F(StaticFilesTest, ContentTypeComesFromTheFile)
{
    const HttpStaticFiles files(root());
    const std::pair<const char*, QByteArrayList> cases[] = {
        { "index.html", { "text/html" } },
        { "app.js", { "application/javascript", "text/javascript" } },
        { "style.css", { "text/css" } },
        { "data.json", { "application/json" } },
        { "icon.svg", { "image/svg+xml" } },
        { "logo.png", { "image/png" } },
        { "with space.txt", { "text/plain" } },
    };
    for (const auto& [name, types] : cases) {
        SCOPED_TRACE(name);
        const HttpResponse r = files.serve(name);
        EXPECT_EQ(r.statusCode(), 200);
        EXPECT_TRUE(types.contains(r.header("Content-Type"))) << r.header("Content-Type").toStdString();
    }
}

TEST_F(StaticFilesTest, CatchAllRouteServesDecodedPathsOverHttps)
{
    HttpServer server;
    const HttpStaticFiles files(root());
    ASSERT_TRUE(server.router().addRoute(
        "/<arg>", [files](const HttpRequest& r, HttpResponder& out) { out.write(files.serve(r.arguments().value(0))); },
        HttpRouter::AnyMethod, HttpRouter::LastArgTakesRest));
    ASSERT_TRUE(httptest::listenOnFreePort(server));
    httptest::Client client;
    ASSERT_TRUE(client.connectTo(server.serverPort()));

    const std::pair<const char*, int> cases[] = {
        { "/", 200 },
        { "/index.html?x=1", 200 },
        { "/with%20space.txt", 200 },
        { "/qml/", 404 },
        { "/../outside/secret.txt", 404 },
        { "/%2e%2e/outside/secret.txt", 404 },
        { "/%2e%2e%2foutside%2fsecret.txt", 404 },
        { "/qml/..%2f..%2foutside/secret.txt", 404 },
        { "/dir-out/secret.txt", 404 },
    };
    for (const auto& [target, status] : cases) {
        SCOPED_TRACE(target);
        const httptest::Reply r = client.get(target);
        EXPECT_EQ(r.status, status);
        if (status == 404) {
            EXPECT_TRUE(r.body.isEmpty());
        }
    }
    client.send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}");
    ASSERT_TRUE(client.waitReplies(int(std::size(cases)) + 1));
    EXPECT_EQ(client.replies().last().body, "<html>home</html>");
    EXPECT_EQ(client.replies().last().header("Content-Type"), "text/html");
}
