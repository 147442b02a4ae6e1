#pragma once
// SubTitleBar: the title bar of the settings and About windows: a title and a
// close button; dragging it moves only the window it belongs to.
//
// Owner: the window whose layout holds it (Qt parent). Thread: GUI only.
#include "MyTitleBar.h"

class QLabel;
class QPushButton;

class SubTitleBar : public MyTitleBar {
    Q_OBJECT
public:
    // owner: the widget whose window the close button acts on (the About
    // window, or the main window for the settings window); window: the window
    // the bar moves. Neither is owned.
    SubTitleBar(QWidget* owner, QWidget* window);

    void setTitle(const QString& title);
    // styleName: "Settings" or "About" (untranslated), what closing means.
    void initStyles(const QString& styleName) override;
    void retranslate() override;

public slots:
    void onClicked();

private:
    QWidget* m_owner;
    QLabel* m_titleLabel = nullptr;
    QPushButton* m_closeButton = nullptr;
    QString m_title;
    QString m_styleName;
};
