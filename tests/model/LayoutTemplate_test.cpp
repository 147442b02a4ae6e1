#include "model/LayoutTemplate.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonObject golden()
{
    QFile f(PANOPTRA_TEST_DATA_DIR "/model/templates.json");
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(f.readAll()).object();
}

} // namespace

TEST(LayoutTemplate, ListEqualsHandWrittenTable)
{
    const LayoutTemplate store;
    const QJsonObject expected = golden();
    ASSERT_EQ(expected.value("data").toArray().size(), 11);
    EXPECT_EQ(store.getTemplateLlist(), expected);
    // The count is an opaque string for the client, not the number of templates.
    EXPECT_EQ(store.getTemplateLlist().value("count"), QJsonValue("1000"));

    for (const QJsonValue& t : expected.value("data").toArray()) {
        const QString id = t.toObject().value("template_id").toString();
        EXPECT_EQ(store.getSelecctTemplate(id), t.toObject()) << id.toStdString();
        EXPECT_EQ(store.getLayoutCount(id), t.toObject().value("position").toArray().size()) << id.toStdString();
    }
    EXPECT_EQ(LayoutTemplate().getTemplateLlist(), store.getTemplateLlist());
}

TEST(LayoutTemplate, ThirdsAndWholeValuesPrintAsWritten)
{
    const QByteArray text = QJsonDocument(LayoutTemplate().getSelecctTemplate("8")).toJson(QJsonDocument::Compact);
    EXPECT_TRUE(text.contains("\"width\":66.6666")) << text.toStdString();
    EXPECT_TRUE(text.contains("\"x\":33.3333")) << text.toStdString();
    EXPECT_TRUE(text.contains("\"x\":0,")) << text.toStdString();
    EXPECT_FALSE(text.contains("33.33333")) << text.toStdString();
    EXPECT_FALSE(text.contains(".0")) << text.toStdString();
}

TEST(LayoutTemplate, UnknownIdsFindNothing)
{
    const LayoutTemplate store;
    for (const char* id : { "12", "0", "01", " 6", "6 ", "6.0", "", "oneWindow", "-1" }) {
        EXPECT_TRUE(store.getSelecctTemplate(id).isEmpty()) << id;
        EXPECT_EQ(store.getLayoutCount(id), 0) << id;
    }
    // Lookups add no entry.
    EXPECT_EQ(store.getTemplateLlist().value("data").toArray().size(), 11);
}

TEST(LayoutTemplate, CopiesDoNotReachTheStore)
{
    const LayoutTemplate store;
    QJsonObject copy = store.getSelecctTemplate("6");
    copy.remove("template_id");
    EXPECT_EQ(store.getSelecctTemplate("6").value("template_id"), QJsonValue("6"));
}
