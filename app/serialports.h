// Opening the instrument ports with the one line setting both instruments use,
// and the open/closed flag the rest of the program reads.
#pragma once

#include <QString>

class QSerialPort;

// Flag stored after a successful open: the last character of the port name,
// or the whole name when that character is "0" (so COM10 or /dev/pts/10 never
// read as closed).
QString portFlagFor(const QString &portName);

// Sets the name and the line settings (9600 baud both ways, 8N1, no flow
// control, 1024-byte read buffer) and opens |port| for reading and writing.
// On failure |error| receives the port's error text.
bool openInstrumentPort(QSerialPort *port, const QString &portName, QString *error = nullptr);
