#include "WidgetForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace {

const char kSideButtonStyle[] = "QPushButton { color: #ffffff; border-radius: 8px;    background: #2c2c33; "
                                "font-size:16px;} QPushButton:pressed {background-color: #5c6068}";
const char kPortLineStyle[] = "color: #999999; border: 1px solid #2d2f33; border-radius: 8px; "
                              "background: #1f2023;font-size:16px";

template <typename T> T* make(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    auto* widget = new T(parent);
    widget->setObjectName(name);
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLineEdit* portLine(QWidget* parent, const char* name, int y)
{
    auto* edit = make<QLineEdit>(parent, name, 70, y, 226, 46);
    edit->setFocusPolicy(Qt::NoFocus);
    edit->setAlignment(Qt::AlignCenter);
    edit->setDragEnabled(false);
    edit->setStyleSheet(kPortLineStyle);
    return edit;
}

// One row of the settings window: a right-aligned label and its edit.
QHBoxLayout* settingsRow(QWidget* parent, const char* rowName, const char* layoutName, int y, QLabel*& label,
    const char* labelName, QLineEdit*& edit, const char* editName, const char* editStyle)
{
    QWidget* row = make<QWidget>(parent, rowName, 60, y, 591, 81);
    auto* layout = new QHBoxLayout(row);
    layout->setObjectName(layoutName);
    layout->setContentsMargins(0, 0, 0, 0);
    label = new QLabel(row);
    label->setObjectName(labelName);
    // Wide enough for "Web Sockets Port" at 14 px, which 100 pixels cut off.
    label->setMaximumWidth(130);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setStyleSheet("color: #ffffff; font-size: 14px;");
    edit = new QLineEdit(row);
    edit->setObjectName(editName);
    edit->setMaximumSize(444, 46);
    edit->setStyleSheet(editStyle);
    layout->addWidget(label);
    layout->addWidget(edit);
    return layout;
}

} // namespace

void WidgetForm::setupUi(QWidget* Widget)
{
    Widget->setObjectName("Widget");
    Widget->resize(1280, 800);
    Widget->setAutoFillBackground(true);

    horizontalLayoutWidget = make<QWidget>(Widget, "horizontalLayoutWidget", 0, 0, 1281, 61);
    horizontalLayout = new QHBoxLayout(horizontalLayoutWidget);
    horizontalLayout->setObjectName("horizontalLayout");
    horizontalLayout->setContentsMargins(0, 0, 0, 0);

    title_label = make<QLabel>(Widget, "title_label", 695, 130, 268, 48);
    title_label->setAlignment(Qt::AlignCenter);
    title_label->setScaledContents(true);
    title_label->setStyleSheet("color: #ffffff; font-size: 46px;");

    qrtxt_label = make<QLabel>(Widget, "qrtxt_label", 564, 250, 530, 23);
    qrtxt_label->setAlignment(Qt::AlignCenter);
    qrtxt_label->setStyleSheet("font-size: 24px; color: #999999;line-height: 39px;");

    qrcode_label = make<QLabel>(Widget, "qrcode_label", 724, 318, 210, 210);
    qrcode_label->setAlignment(Qt::AlignCenter);

    comboBox = make<QComboBox>(Widget, "comboBox", 607, 560, 444, 46);

    // In place of the code, the list and the copy button when the HTTPS
    // server cannot listen; hidden otherwise.
    listen_error_label = make<QLabel>(Widget, "listen_error_label", 564, 250, 530, 456);
    listen_error_label->setAlignment(Qt::AlignCenter);
    listen_error_label->setWordWrap(true);
    listen_error_label->setStyleSheet("font-size: 20px; color: #ff6d01;");
    listen_error_label->hide();

    cpy_btn = make<QPushButton>(Widget, "cpy_btn", 764, 660, 130, 46);
    cpy_btn->setMaximumSize(130, 46);
    cpy_btn->setStyleSheet("QPushButton:pressed {background-color: #5c6068}QPushButton {background-color: #2D2F33; "
                           "color: #409EFF; border-radius: 8px; border: 1px solid #2d2f33;}");

    icon_label = make<QLabel>(Widget, "icon_label", 70, 66, 226, 46);
    icon_label->setAlignment(Qt::AlignCenter);

    set_btn = make<QPushButton>(Widget, "set_btn", 70, 210, 226, 46);
    set_btn->setStyleSheet(kSideButtonStyle);

    port_edit = portLine(Widget, "port_edit", 280);
    web_port_edit = portLine(Widget, "web_port_edit", 350);

    export_log_btn = make<QPushButton>(Widget, "export_log_btn", 70, 420, 226, 46);
    export_log_btn->setStyleSheet(kSideButtonStyle);
    export_log_btn->setShortcut(QKeySequence("Ctrl+S, Ctrl+S, Ctrl+S, Ctrl+S"));

    // Tall enough for the descender of "V_1.10.0060" at 16 px.
    version_label = make<QLabel>(Widget, "version_label", 70, 490, 226, 22);
    version_label->setMaximumSize(226, 22);
    version_label->setAlignment(Qt::AlignCenter);
    version_label->setContextMenuPolicy(Qt::NoContextMenu);
    version_label->setStyleSheet("color: #999999;font-size:16px");

    bg_label = make<QLabel>(Widget, "bg_label", 54, 502, 266, 250);
    bg_label->setAlignment(Qt::AlignCenter);

    checkBox = make<QCheckBox>(Widget, "checkBox", 1140, 760, 121, 16);
    checkBox->setStyleSheet("font-size: 14px; color: #999999;");
    checkBox->hide();

    set_widget = make<QWidget>(Widget, "set_widget", 170, 290, 724, 465);
    horizontalLayoutWidget_4 = make<QWidget>(set_widget, "horizontalLayoutWidget_4", 0, 0, 721, 61);
    title_layout = new QHBoxLayout(horizontalLayoutWidget_4);
    title_layout->setObjectName("title_layout");
    title_layout->setContentsMargins(0, 0, 0, 0);
    horizontalLayout_3
        = settingsRow(set_widget, "horizontalLayoutWidget_2", "horizontalLayout_3", 90, label_2, "label_2",
            name_lineEdit, "name_lineEdit", "background: #2c2c33; border-radius: 8px;font-size: 14px;color: #ffffff");
    horizontalLayoutWidget_2 = horizontalLayout_3->parentWidget();
    horizontalLayout_4
        = settingsRow(set_widget, "horizontalLayoutWidget_3", "horizontalLayout_4", 170, label_3, "label_3",
            port_lineEdit, "port_lineEdit", "background: #2c2c33; border-radius: 8px;font-size: 14px;color: #ffffff;");
    horizontalLayoutWidget_3 = horizontalLayout_4->parentWidget();
    horizontalLayout_5 = settingsRow(set_widget, "horizontalLayoutWidget_5", "horizontalLayout_5", 250, label_4,
        "label_4", web_port_lineEdit, "web_port_lineEdit",
        "background: #2c2c33; border-radius: 8px;font-size: 14px;color: #ffffff;");
    horizontalLayoutWidget_5 = horizontalLayout_5->parentWidget();

    label = make<QLabel>(set_widget, "label", 150, 330, 500, 17);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet("font-size: 14px; color: #ff6d01;");

    save_btn = make<QPushButton>(set_widget, "save_btn", 160, 380, 186, 46);
    save_btn->setStyleSheet("QPushButton {background: #2c2c33; border-radius: 8px; color: #999999;} "
                            "QPushButton:pressed {background-color: #5c6068}");
    restart_btn = make<QPushButton>(set_widget, "restart_btn", 390, 380, 186, 46);
    QFont agency = restart_btn->font();
    agency.setFamily("Agency FB");
    restart_btn->setFont(agency);
    restart_btn->setStyleSheet("QPushButton {background: #409eff;border-radius: 8px; color: #ffffff;} "
                               "QPushButton:pressed {background-color: #8bc0f6}");

    retranslateUi(Widget);
}

void WidgetForm::retranslateUi(QWidget* Widget)
{
    Widget->setWindowTitle(QCoreApplication::translate("Widget", "Widget"));
    qrtxt_label->setText(QCoreApplication::translate("Widget", "Scan the QR code or copy the link to share"));
    cpy_btn->setText(QCoreApplication::translate("Widget", "copy Link"));
    set_btn->setText(QCoreApplication::translate("Widget", "Settings"));
    port_edit->setText(QString());
    web_port_edit->setText(QString());
    export_log_btn->setText(QCoreApplication::translate("Widget", "Export logs"));
    checkBox->setText(QCoreApplication::translate("Widget", "Run at Startup"));
    label_2->setText(QCoreApplication::translate("Widget", "NDI Host Name"));
    label_3->setText(QCoreApplication::translate("Widget", "Http Port"));
    label_4->setText(QCoreApplication::translate("Widget", "Web Sockets Port"));
    label->setText(QCoreApplication::translate("Widget", "Note: Restart is required for changes to take effect."));
    save_btn->setText(QCoreApplication::translate("Widget", "save"));
    restart_btn->setText(QCoreApplication::translate("Widget", "Restart Now"));
}
