#include "app/serialports.h"

#include <QSerialPort>

QString portFlagFor(const QString &portName)
{
    if (portName.isEmpty())
        return QStringLiteral("0");
    const QString last = portName.right(1);
    return last == QLatin1String("0") ? portName : last;
}

bool openInstrumentPort(QSerialPort *port, const QString &portName, QString *error)
{
    if (port->isOpen())
        port->close();
    port->setPortName(portName);
    port->setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    port->setParity(QSerialPort::NoParity);
    port->setDataBits(QSerialPort::Data8);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setReadBufferSize(1024);
    const bool ok = port->open(QIODevice::ReadWrite);
    if (!ok && error)
        *error = port->errorString();
    return ok;
}
