#pragma once
// WidgetForm: the widgets of the desktop main window and of its settings
// window, built in code the way a designer form is: setupUi() makes and places
// them, retranslateUi() sets their texts in the current language.
//
// Owner: the main window (Widget), which deletes the record; the widgets
// themselves are children of the window. Thread: GUI only.
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

struct WidgetForm {
    QWidget* horizontalLayoutWidget;
    QHBoxLayout* horizontalLayout;
    QLabel* title_label;
    QLabel* qrtxt_label;
    QLabel* qrcode_label;
    QComboBox* comboBox;
    QPushButton* cpy_btn;
    QLabel* listen_error_label;
    QLabel* icon_label;
    QPushButton* set_btn;
    QLineEdit* port_edit;
    QLineEdit* web_port_edit;
    QPushButton* export_log_btn;
    QLabel* version_label;
    QLabel* bg_label;
    QCheckBox* checkBox;

    // The settings window and its children.
    QWidget* set_widget;
    QWidget* horizontalLayoutWidget_4;
    QHBoxLayout* title_layout;
    QWidget* horizontalLayoutWidget_2;
    QHBoxLayout* horizontalLayout_3;
    QLabel* label_2;
    QLineEdit* name_lineEdit;
    QWidget* horizontalLayoutWidget_3;
    QHBoxLayout* horizontalLayout_4;
    QLabel* label_3;
    QLineEdit* port_lineEdit;
    QWidget* horizontalLayoutWidget_5;
    QHBoxLayout* horizontalLayout_5;
    QLabel* label_4;
    QLineEdit* web_port_lineEdit;
    QLabel* label;
    QPushButton* save_btn;
    QPushButton* restart_btn;

    void setupUi(QWidget* Widget);
    void retranslateUi(QWidget* Widget);
};
