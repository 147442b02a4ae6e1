#pragma once
// The built-in canvas layouts every window layout starts from.
//
// Owned by value: the controller holds one and every program holds its own,
// each with the complete, identical set. The eleven templates are built in the
// constructor and never change afterwards, so any thread may read an instance
// once it is constructed; every getter hands out a copy.
#include <QJsonObject>
#include <QMap>
#include <QString>

class LayoutTemplate {
public:
    LayoutTemplate();

    // The whole list as the control API returns it: {"data": [...], "result": "ok", "count": "1000"}.
    QJsonObject getTemplateLlist() const;
    // The template stored under exactly template_id ("1" .. "11"); empty when there is none.
    QJsonObject getSelecctTemplate(const QString& template_id) const;
    // The position count of that template; 0 when there is none.
    int getLayoutCount(const QString& template_id) const;

private:
    void initTemplates();

    QJsonObject template_list;
    QMap<QString, QJsonObject> template_map;
    QMap<QString, int> count_map;
};
