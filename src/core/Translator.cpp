#include "Translator.h"

#include "Globals.h"

#include <QDebug>
#include <QGuiApplication>
#include <QQmlApplicationEngine>

Translator::Translator(QObject* parent)
    : QObject(parent)
{
}

void Translator::setSomething(QGuiApplication& app)
{
    m_app = &app;
}

void Translator::setSomething(QGuiApplication& app, QQmlApplicationEngine& engine)
{
    m_app = &app;
    m_engine = &engine;
}

void Translator::loadLanguage(const QString& lang)
{
    if (lang.isEmpty())
        return;
    qDebug().noquote() << "load language " << lang;

    QString catalogue;
    if (lang == "en")
        catalogue = g_resPath + "/qml/en_us.qm";
    else if (lang == "zh")
        catalogue = g_resPath + "/qml/zh_cn.qm";

    if (!catalogue.isEmpty()) {
        if (m_translator.load(catalogue)) {
            if (m_app) {
                // Installing prepends, even an installed translator: take it
                // out first so it is listed once, and its destructor (which
                // removes one entry) leaves no dangling entry behind.
                QCoreApplication::removeTranslator(&m_translator);
                QCoreApplication::installTranslator(&m_translator);
            }
            if (m_engine)
                m_engine->retranslate();
        } else {
            qDebug().noquote() << QString("load %1 error").arg(lang) << catalogue;
        }
    }
    emit langChanged();
}
