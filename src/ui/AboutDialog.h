#pragma once
// AboutDialog: the About window: logo, version, "Check Update" and the notice
// on the network-video technology used.
//
// Owner: the main window (Qt parent), which makes it on the first About
// request and reuses it. Thread: GUI only.
#include <QWidget>

class QLabel;
class QPushButton;
class QTextEdit;
class SubTitleBar;

class AboutDialog : public QWidget {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    void retranslate();

public slots:
    // Opens the product's web page in the desktop's browser.
    void checkVersion();

private:
    SubTitleBar* m_titleBar;
    QLabel* m_logo;
    QTextEdit* m_version;
    QPushButton* m_checkButton;
    QTextEdit* m_notice;
};
