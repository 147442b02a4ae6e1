#pragma once
// MyButton: the title bar's help button; its icon lights up under the mouse.
//
// Owner: its title bar (Qt parent). Thread: GUI only.
#include <QPushButton>

class MyButton : public QPushButton {
    Q_OBJECT
public:
    explicit MyButton(QWidget* parent = nullptr);

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
};
