// The four decoded parts of one analyzer measurement, as the download leaves
// them for saving: ASCII texts, fields separated and ended by '#'.
#pragma once

#include <QByteArray>
#include <QMetaType>

struct MeasurementLists
{
    QByteArray personData;
    QByteArray wholeData;
    QByteArray segData;
    QByteArray impData;
};

Q_DECLARE_METATYPE(MeasurementLists)
