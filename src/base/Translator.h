#pragma once
// Translator: switches the desktop interface between English and Chinese.
//
// Owner: CommonInterface::init (an automatic object for the life of the event
// loop). Thread: GUI only. One QTranslator is reloaded in place on every
// switch and is in the application's translator list at most once.
#include <QObject>
#include <QTranslator>

class QGuiApplication;
class QQmlApplicationEngine;

class Translator : public QObject {
    Q_OBJECT
public:
    explicit Translator(QObject* parent = nullptr);

signals:
    void langChanged();

public slots:
    // "en" or "zh" loads <res>/qml/en_us.qm or zh_cn.qm and installs it in
    // the bound application; any other non-empty code only signals.
    void loadLanguage(const QString& lang);
    void setSomething(QGuiApplication& app);
    void setSomething(QGuiApplication& app, QQmlApplicationEngine& engine);

private:
    QTranslator m_translator;
    QGuiApplication* m_app = nullptr;
    QQmlApplicationEngine* m_engine = nullptr;
};
