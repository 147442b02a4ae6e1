#include "MyTitleBar.h"

#include "MyButton.h"
#include "MyMenu.h"
#include "base/Globals.h"

#include <QAction>
#include <QIcon>
#include <QMouseEvent>
#include <QPushButton>

MyTitleBar::MyTitleBar(QWidget* window)
    : QWidget(nullptr)
    , m_window(window)
{
}

MyTitleBar::~MyTitleBar()
{
    delete m_aboutAction;
    delete m_menu;
    delete m_langButton;
    delete m_helpButton;
    delete m_minButton;
    delete m_closeButton;
}

QString MyTitleBar::borderImageStyle(const QString& normal, const QString& hover)
{
    return QString("QPushButton{background-color:transparent;border-image:url(%1);}"
                   "QPushButton:hover{background-color:transparent;border-image:url(%2);}")
        .arg(g_resPath + normal, g_resPath + hover);
}

void MyTitleBar::initStyles(const QString& styleName)
{
    Q_UNUSED(styleName)
    setFixedHeight(56);

    m_menu = new MyMenu(this);
    m_menu->setStyleSheet("QMenu{background:#212126;}"
                          "QMenu::item{font-size:14px;color:#ffffff;background-color:#111111;"
                          "background-color:transparent;padding-top:10px;padding-bottom:10px;"
                          "margin-left:10px;width:200px;}"
                          "QMenu::item:selected{color:#409eff;}"
                          "QMenu::item:pressed{background:#2C2C33;}");
    m_aboutAction = new QAction(QIcon(g_resPath + "/img/icon_about.png"), tr("About Panoptra Pro"), nullptr);
    if (!g_is_neutral_version)
        m_menu->addAction(m_aboutAction);

    m_langButton = new QPushButton(this);
    m_langButton->setGeometry(1090, 5, 30, 30);
    m_langButton->setToolTip(tr("switch to Chinese"));
    setLanguage(m_language);

    m_helpButton = new MyButton(this);
    m_helpButton->setGeometry(1146, 5, 30, 30);
    m_helpButton->setStyleSheet("QPushButton{background-color:transparent;}");
    m_helpButton->setToolTip(tr("Help"));

    m_minButton = new QPushButton(this);
    m_minButton->setGeometry(1198, 10, 22, 22);
    m_minButton->setStyleSheet(borderImageStyle("/img/icon_zxh_d.png", "/img/icon_zxh_s.png"));
    m_minButton->setToolTip(tr("Minimize"));

    m_closeButton = new QPushButton(this);
    m_closeButton->setGeometry(1246, 10, 22, 22);
    m_closeButton->setStyleSheet(borderImageStyle("/img/icon_quxiao_d.png", "/img/icon_quxiao_s.png"));
    m_closeButton->setToolTip(tr("Close"));

    connect(m_menu, &QMenu::hovered, this, &MyTitleBar::onHovered);
    connect(m_menu, &QMenu::triggered, this, &MyTitleBar::onToggled);
    connect(m_menu, &MyMenu::hasLeaved, this, &MyTitleBar::onLeaved);
    connect(m_menu, &QMenu::aboutToHide, this, &MyTitleBar::onProcessHelpBtn);
    for (QPushButton* b : { m_langButton, static_cast<QPushButton*>(m_helpButton), m_minButton, m_closeButton })
        connect(b, &QPushButton::clicked, this, &MyTitleBar::onClicked);
}

QMenu* MyTitleBar::helpMenu() const
{
    return m_menu;
}

void MyTitleBar::retranslate()
{
    if (m_aboutAction)
        m_aboutAction->setText(tr("About Panoptra Pro"));
    if (m_langButton)
        m_langButton->setToolTip(tr("switch to Chinese"));
    if (m_helpButton)
        m_helpButton->setToolTip(tr("Help"));
    if (m_minButton)
        m_minButton->setToolTip(tr("Minimize"));
    if (m_closeButton)
        m_closeButton->setToolTip(tr("Close"));
}

void MyTitleBar::setLanguage(const QString& lang)
{
    // Only "zh" and "en" have images: every other start-up code shows English.
    m_language = lang == "zh" ? QStringLiteral("zh") : QStringLiteral("en");
    if (m_langButton)
        m_langButton->setStyleSheet(
            borderImageStyle(QString("/img/%1_d.png").arg(m_language), QString("/img/%1_s.png").arg(m_language)));
}

void MyTitleBar::switchLanguage()
{
    const QString code = m_language == "zh" ? QStringLiteral("en") : QStringLiteral("zh");
    setLanguage(code);
    emit langChanged(code);
}

void MyTitleBar::onClicked()
{
    QObject* button = sender();
    if (button == m_minButton) {
        emit minimizedClicked();
    } else if (button == m_closeButton) {
        emit closeClicked();
    } else if (button == m_helpButton) {
        QWidget* w = m_window ? m_window : window();
        m_menu->exec(QPoint(w->x() + 1134, w->y() + 63));
    } else if (button == m_langButton) {
        switchLanguage();
    }
}

void MyTitleBar::onHovered(QAction* action)
{
    if (action == m_aboutAction)
        m_aboutAction->setIcon(QIcon(g_resPath + "/img/icon_about_s.png"));
}

void MyTitleBar::onToggled(QAction* action)
{
    if (action == m_aboutAction)
        emit aboutDialogReady();
}

void MyTitleBar::onAboutToHide()
{
    if (m_aboutAction)
        m_aboutAction->setIcon(QIcon(g_resPath + "/img/icon_about.png"));
}

void MyTitleBar::onLeaved()
{
    onAboutToHide();
}

void MyTitleBar::onProcessHelpBtn()
{
    onAboutToHide();
    if (m_helpButton)
        m_helpButton->setIcon(QIcon(g_resPath + "/img/icon_help_d.png"));
}

void MyTitleBar::mousePressEvent(QMouseEvent* event)
{
    m_pressed = true;
    m_lastPos = event->globalPos();
    event->accept();
}

void MyTitleBar::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed && m_window) {
        const QPoint delta = event->globalPos() - m_lastPos;
        m_window->move(m_window->pos() + delta);
        m_lastPos = event->globalPos();
    }
    event->accept();
}

void MyTitleBar::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressed = false;
    event->accept();
}

void MyTitleBar::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Neither maximise nor start a drag.
    event->accept();
}
