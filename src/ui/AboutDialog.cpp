#include "AboutDialog.h"

#include "SubTitleBar.h"
#include "base/Globals.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

namespace {
QTextEdit* makeText(QWidget* parent)
{
    auto* text = new QTextEdit(parent);
    text->setTextColor(QColor("#ffffff"));
    text->setFontPointSize(12);
    text->setWordWrapMode(QTextOption::WordWrap);
    text->setFrameShape(QFrame::NoFrame);
    text->setEnabled(false);
    return text;
}
} // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QWidget(parent)
    , m_titleBar(new SubTitleBar(this, this))
    , m_logo(new QLabel(this))
    , m_version(makeText(this))
    , m_checkButton(new QPushButton(this))
    , m_notice(makeText(this))
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setStyleSheet("background-color: #212126");

    m_titleBar->setTitle(tr("About Panoptra Pro"));
    m_titleBar->initStyles("About");

    m_logo->setPixmap(
        QPixmap(g_resPath + "/img/abt_logo.png").scaled(266, 36, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_logo->setFixedSize(226, 36);
    m_logo->setAlignment(Qt::AlignCenter);

    m_version->setFixedSize(400, 80);
    m_checkButton->setFixedSize(226, 46);
    m_checkButton->setStyleSheet("QPushButton { color: #ffffff; border-radius: 8px;    background: #2c2c33; "
                                 "font-size:16px;} QPushButton:pressed {background-color: #5c6068}");

    auto* row = new QHBoxLayout;
    row->addWidget(m_version);
    row->addSpacing(220);
    row->addWidget(m_checkButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_titleBar);
    layout->addWidget(m_logo, 0, Qt::AlignHCenter);
    layout->addSpacing(50);
    layout->addLayout(row);
    layout->addSpacing(20);
    layout->addWidget(m_notice);

    connect(m_checkButton, &QPushButton::clicked, this, &AboutDialog::checkVersion);
    retranslate();
}

void AboutDialog::retranslate()
{
    m_titleBar->setTitle(tr("About Panoptra Pro"));
    m_titleBar->retranslate();
    m_version->setTextColor(QColor("#ffffff"));
    m_version->setPlainText(tr("Version:") + g_version + tr("\nCopyright the Panoptra Pro developers"));
    m_checkButton->setText(tr("Check Update"));
    m_notice->setPlainText(tr("Panoptra Pro receives and sends video over the local network. "
                              "The names of the network-video technologies it uses are "
                              "trademarks of their owners."));
}

void AboutDialog::checkVersion()
{
    QDesktopServices::openUrl(QUrl(tr("https://panoptra.example.com/pro/update")));
}
