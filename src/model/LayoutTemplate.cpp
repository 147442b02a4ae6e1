#include "LayoutTemplate.h"

#include "base/ApiReplies.h"
#include "base/BusIds.h"

#include <QJsonArray>

#include <cmath>
#include <vector>

namespace {

// Thirds are kept as these decimals, not as 100/3: clients compare the
// rectangles as printed, and a row of three cells ends at 99.9999 percent.
constexpr double kThird = 33.3333;
constexpr double kTwoThirds = 66.6666;

struct Cell {
    double x, y, width, height;
};

struct TemplateDef {
    const char* name;
    bool busPositions; // positions 1 and 2 show the preview and program pictures
    std::vector<Cell> cells;
};

// Row by row, left to right.
void addGrid(std::vector<Cell>& cells, std::initializer_list<double> columns, std::initializer_list<double> rows,
    double width, double height)
{
    for (double y : rows)
        for (double x : columns)
            cells.push_back({ x, y, width, height });
}

std::vector<Cell> grid(
    std::initializer_list<double> columns, std::initializer_list<double> rows, double width, double height)
{
    std::vector<Cell> cells;
    addGrid(cells, columns, rows, width, height);
    return cells;
}

std::vector<TemplateDef> builtInTemplates()
{
    const auto thirds = grid({ 0, kThird, kTwoThirds }, { 0, kThird, kTwoThirds }, kThird, kThird);
    const auto quarters = grid({ 0, 25, 50, 75 }, { 0, 25, 50, 75 }, 25, 25);

    std::vector<Cell> ten = grid({ 0, 50 }, { 0 }, 50, 50);
    addGrid(ten, { 0, 25, 50, 75 }, { 50, 75 }, 25, 25);

    std::vector<Cell> six { { 0, 0, kTwoThirds, kTwoThirds } };
    addGrid(six, { kTwoThirds }, { 0, kThird }, kThird, kThird);
    addGrid(six, { 0, kThird, kTwoThirds }, { kTwoThirds }, kThird, kThird);

    return {
        { "tenWindows_pvw_pgm", true, ten },
        { "fourWindows_pvw_pgm", true, grid({ 0, 50 }, { 0, 50 }, 50, 50) },
        { "twoWindows_pvw_pgm", true, grid({ 0, 50 }, { 25 }, 50, 50) },
        { "nineWindows_pvw_pgm", true, thirds },
        { "sixteenWindows_pvw_pgm", true, quarters },
        { "oneWindow", false, { { 0, 0, 100, 100 } } },
        { "picInPic", false, { { 0, 0, 100, 100 }, { 69, 69, 30, 30 } } },
        { "sixWindows", false, six },
        { "nineWindows", false, thirds },
        { "sixteenWindows", false, quarters },
        { "twentyWindows", false, grid({ 0, 20, 40, 60, 80 }, { 0, 25, 50, 75 }, 20, 25) },
    };
}

// Whole values are stored as integers so that they print without a fraction.
QJsonValue percent(double v)
{
    return v == std::floor(v) ? QJsonValue(int(v)) : QJsonValue(v);
}

QJsonObject positionObject(const TemplateDef& def, int id, const Cell& cell)
{
    QString type;
    int number = id;
    if (def.busPositions) {
        type = id == 1 ? BusId::pvw() : id == 2 ? BusId::pgm() : QString();
        number = id <= 2 ? 0 : id - 2;
    }
    return QJsonObject {
        { "id", id },
        { "number", number },
        { "type", type },
        { "z_index", id - 1 },
        { "x", percent(cell.x) },
        { "y", percent(cell.y) },
        { "width", percent(cell.width) },
        { "height", percent(cell.height) },
    };
}

} // namespace

LayoutTemplate::LayoutTemplate()
{
    initTemplates();
}

void LayoutTemplate::initTemplates()
{
    QJsonArray list;
    const std::vector<TemplateDef> defs = builtInTemplates();
    for (size_t i = 0; i < defs.size(); ++i) {
        const TemplateDef& def = defs[i];
        QJsonArray positions;
        for (size_t p = 0; p < def.cells.size(); ++p)
            positions.append(positionObject(def, int(p) + 1, def.cells[p]));

        const QString key = QString::number(i + 1);
        const int count = positions.size();
        const QJsonObject tmpl {
            { "name", QString::fromLatin1(def.name) },
            { "position", positions },
            { "template_id", key },
            { "template_count", count },
        };
        list.append(tmpl);
        template_map.insert(key, tmpl);
        count_map.insert(key, count);
    }
    template_list = apireply::ok(list);
    // Clients read this as an opaque text; it is not the number of templates.
    template_list.insert("count", "1000");
}

QJsonObject LayoutTemplate::getTemplateLlist() const
{
    return template_list;
}

QJsonObject LayoutTemplate::getSelecctTemplate(const QString& template_id) const
{
    return template_map.value(template_id);
}

int LayoutTemplate::getLayoutCount(const QString& template_id) const
{
    return count_map.value(template_id, 0);
}
