#pragma once
// MyMenu: the title bar's help menu; it reports when the mouse leaves it so the
// bar can put the About entry's icon back.
//
// Owner: its title bar, which deletes it (it has no Qt parent, so it opens as
// a popup of its own). Thread: GUI only.
#include <QMenu>

class MyMenu : public QMenu {
    Q_OBJECT
public:
    // The parent is not taken.
    explicit MyMenu(QWidget* parent = nullptr);

signals:
    void hasLeaved();

protected:
    void leaveEvent(QEvent* event) override;
};
