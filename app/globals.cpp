#include "app/globals.h"

#include "app/database.h"
#include "app/dbtarget.h"

#include <QSerialPort>

#include <memory>

namespace global {
QString portFlag;
QString fitPortFlag;
int BCAstate = 0;
int dataFlag = 0;
QString batchSwitch;
QString sheetTag;
int currentTestID = 0;
int currentDataIndex = -1;
QString currentPerson;
QList<int> printList;
int tid = 0;
QString bodyType;
QString BCAmodel;
QString personInfoStr;
QString PCCtrlUID;
QString PCCtrlName;
QString PCCtrlSex;
int PCCtrlBirthYear = 1980;

void resetDefaults()
{
    portFlag = QStringLiteral("0");
    fitPortFlag = QStringLiteral("0");
    BCAstate = 0;
    dataFlag = 0;
    batchSwitch = QStringLiteral("OFF");
    sheetTag.clear();
    currentTestID = 0;
    currentDataIndex = -1;
    currentPerson.clear();
    printList.clear();
    tid = 0;
    bodyType.clear();
    BCAmodel.clear();
    personInfoStr.clear();
    PCCtrlUID = QStringLiteral("0");
    PCCtrlName = QStringLiteral("*");
    PCCtrlSex = QStringLiteral("男");
    PCCtrlBirthYear = 1980;
    ::PCCtrlState = QStringLiteral("OFF");
}
} // namespace global

QSerialPort *BCAport = nullptr;
QSerialPort *fitPort = nullptr;
bool dbSetupResult = false;
QString PCCtrlState = QStringLiteral("OFF");

namespace {
std::unique_ptr<QSerialPort> analyzerPortHolder;
std::unique_ptr<QSerialPort> stationPortHolder;
} // namespace

void initProcessState(const QString &dbPath)
{
    DbTarget target;
    target.path = dbPath;
    initProcessState(target);
}

void initProcessState(const DbTarget &target)
{
    global::resetDefaults();
    if (!analyzerPortHolder) {
        analyzerPortHolder = std::make_unique<QSerialPort>();
        stationPortHolder = std::make_unique<QSerialPort>();
    }
    BCAport = analyzerPortHolder.get();
    fitPort = stationPortHolder.get();
    dbSetupResult = openDefaultDatabase(target);
}

void releaseProcessState()
{
    BCAport = nullptr;
    fitPort = nullptr;
    analyzerPortHolder.reset();
    stationPortHolder.reset();
}
