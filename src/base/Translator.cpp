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
        // Out of the application while it is reloaded: tr() on other threads
        // reads installed catalogues. Installing it again lists it once only
        // because it was taken out first (installing prepends, even twice).
        if (m_app)
            QCoreApplication::removeTranslator(&m_translator);
        if (m_translator.load(catalogue)) {
            if (m_app)
                QCoreApplication::installTranslator(&m_translator);
            if (m_engine)
                m_engine->retranslate();
        } else {
            qDebug().noquote() << QString("load %1 error").arg(lang) << catalogue;
        }
    }
    emit langChanged();
}
