// Process-wide shared state: the variables every part of the program reads
// and writes directly, the two serial port objects and the database result.
#pragma once

#include <QList>
#include <QString>

class QSerialPort;

namespace global {
extern QString portFlag;    // "0" closed, else last character of the analyzer port name
extern QString fitPortFlag; // the same for the fitness station port
extern int BCAstate;        // analyzer state as the main window knows it (0..6)
extern int dataFlag;        // download progress 0..5
extern QString batchSwitch; // "ON" while the batch dialog is open
extern QString sheetTag;    // selected report sheet style
extern int currentTestID;
extern int currentDataIndex;
extern QString currentPerson;
extern QList<int> printList;
extern int tid;
extern QString bodyType;
extern QString BCAmodel;
extern QString personInfoStr;
extern QString PCCtrlUID;
extern QString PCCtrlName;
extern QString PCCtrlSex;
extern int PCCtrlBirthYear;

// Puts every variable above back to its start value (used at start and by tests).
void resetDefaults();
} // namespace global

// Analyzer and fitness-station ports; they live from initProcessState() to
// releaseProcessState() and are never parented.
extern QSerialPort *BCAport;
extern QSerialPort *fitPort;

// Result of opening the default database connection.
extern bool dbSetupResult;

// Flags of the analyzer link shared by its slots.
extern QString PCCtrlState; // "ON" once the PC-control start command was sent

// Creates the ports, resets the shared state and opens the default database
// connection on |dbPath| (relative paths resolve against the working directory).
// Must run after the QApplication exists and before the main window is built.
void initProcessState(const QString &dbPath = QStringLiteral("maindb.db"));
// The same on a file or a server.
void initProcessState(const struct DbTarget &target);
void releaseProcessState();
