#include "StandInCapabilities.h"

#include <QXmlStreamReader>

void StandInCapabilities::apply(const QByteArray& text)
{
    // Several elements may come in one text; a wrapper makes them one document.
    QXmlStreamReader xml("<m>" + text + "</m>");
    std::string web = webControl;
    bool hasPtz = ptz;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("ndi_capabilities"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (attributes.hasAttribute(QLatin1String("web_control")))
            web = attributes.value(QLatin1String("web_control")).toString().toStdString();
        if (attributes.hasAttribute(QLatin1String("ptz")))
            hasPtz = attributes.value(QLatin1String("ptz")).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    }
    if (xml.hasError())
        return;
    webControl = web;
    ptz = hasPtz;
}
