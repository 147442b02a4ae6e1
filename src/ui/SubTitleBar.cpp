#include "SubTitleBar.h"

#include "base/Globals.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

SubTitleBar::SubTitleBar(QWidget* owner, QWidget* window)
    : MyTitleBar(window)
    , m_owner(owner)
    , m_title(tr("Settings"))
{
    setParent(owner);
}

void SubTitleBar::setTitle(const QString& title)
{
    m_title = title;
    if (m_titleLabel)
        m_titleLabel->setText(m_title);
}

void SubTitleBar::initStyles(const QString& styleName)
{
    m_styleName = styleName;
    setFixedHeight(56);

    m_titleLabel = new QLabel(m_title, this);
    m_titleLabel->setFixedSize(160, 32);
    m_titleLabel->setStyleSheet("color: #ffffff; font-size: 16px;");

    m_closeButton = new QPushButton(this);
    m_closeButton->setFixedSize(22, 22);
    m_closeButton->setIcon(
        QIcon(QPixmap(g_resPath + "/img/close.png").scaled(11, 11, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    m_closeButton->setStyleSheet(borderImageStyle("/img/icon_quxiao_d.png", "/img/icon_quxiao_s.png"));
    m_closeButton->setToolTip(tr("Close"));

    auto* layout = new QHBoxLayout(this);
    layout->addSpacing(20);
    layout->addWidget(m_titleLabel);
    layout->addSpacing(591);
    layout->addWidget(m_closeButton);

    connect(m_closeButton, &QPushButton::clicked, this, &SubTitleBar::onClicked);
}

void SubTitleBar::retranslate()
{
    if (m_titleLabel)
        m_titleLabel->setText(m_title);
    if (m_closeButton)
        m_closeButton->setToolTip(tr("Close"));
}

void SubTitleBar::onClicked()
{
    if (!m_owner || !m_owner->isWindow() || sender() != m_closeButton)
        return;
    if (m_styleName == "About")
        m_owner->close();
    else if (m_styleName == "Settings")
        QMetaObject::invokeMethod(m_owner, "closeSetWindow");
}
