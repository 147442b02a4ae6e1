#pragma once
// MyTitleBar: the drawn title bar of the frameless main window: language
// switch, help menu with the About entry, minimise and close, and dragging
// the window by the bar.
//
// Owner: created without a parent; the layout that receives it adopts it, and
// it deletes its menu, action and buttons itself. Thread: GUI only.
#include <QPoint>
#include <QString>
#include <QWidget>

class MyButton;
class MyMenu;
class QAction;
class QMenu;
class QPushButton;

class MyTitleBar : public QWidget {
    Q_OBJECT
public:
    // window: the window the bar moves (not owned).
    explicit MyTitleBar(QWidget* window);
    ~MyTitleBar() override;

    virtual void initStyles(const QString& styleName);
    virtual void retranslate();

    // Shows the images of lang on the language button ("zh", or "en" for any
    // other code).
    void setLanguage(const QString& lang);
    void switchLanguage();
    QString language() const { return m_language; }
    QMenu* helpMenu() const;

signals:
    void aboutDialogReady();
    void closeClicked();
    void minimizedClicked();
    void langChanged(QString lang);

public slots:
    void onClicked();
    void onHovered(QAction* action);
    void onToggled(QAction* action);
    void onAboutToHide();
    void onLeaved();
    void onProcessHelpBtn();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

    // The two-rule style that swaps a button's image under the mouse.
    static QString borderImageStyle(const QString& normal, const QString& hover);

    QWidget* m_window;

private:
    MyMenu* m_menu = nullptr;
    QAction* m_aboutAction = nullptr;
    QPushButton* m_langButton = nullptr;
    MyButton* m_helpButton = nullptr;
    QPushButton* m_minButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    bool m_pressed = false;
    QPoint m_lastPos;
    QString m_language = QStringLiteral("en");
};
