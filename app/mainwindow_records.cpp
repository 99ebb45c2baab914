// Main window slots of measurement saving and the body-composition detail page.
#include "app/mainwindow.h"

#include "app/globals.h"
#include "exchange/errortext.h"
#include "records/measurementstore.h"
#include "records/resultdetail.h"

#include <QDebug>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QTableWidget>

void MainWindow::saveTestData()
{
    qDebug() << "saveTestData function";
    measurementstore::PcControlPerson pc;
    pc.uid = global::PCCtrlUID;
    pc.name = global::PCCtrlName;
    pc.sex = global::PCCtrlSex;
    pc.birthYear = global::PCCtrlBirthYear;

    const measurementstore::SaveOutcome out =
        measurementstore::saveMeasurement(m_measurement, pc, global::bodyType);
    m_measurementStored = out.ok;
    if (!out.ok) {
        // Saving runs in the background of a download: no box. The record is
        // kept and stored again at the next tick; the warning stays until then.
        const QString why = exchange::databaseWriteErrorText(
            out.error, QSqlDatabase::database(QSqlDatabase::defaultConnection, false).databaseName());
        m_stateEdit->setText(tr("测试数据保存失败：") + why);
        setStoreWarning(&m_bcaStoreWarning,
                        tr("体成分测试数据未能保存（%1），数据已保留，正在自动重试").arg(why));
        return;
    }
    setStoreWarning(&m_bcaStoreWarning, QString());
    UUID = out.uuid;
    global::bodyType = out.bodyType;
    if (out.collectionMode)
        global::currentPerson = out.uid;
    global::currentDataIndex = -1;
    global::currentTestID = 0;
    ++global::tid;
    emit tidChanged(global::tid);
    qDebug() << "Now, tid = " << global::tid;
}

void MainWindow::displayData()
{
    qDebug() << "displayData function";
    qDebug() << "currentTestID= " << global::currentTestID;
    const resultdetail::Detail detail = resultdetail::loadDetail(global::currentTestID);
    if (!detail.ok)
        return; // the table keeps its old values
    m_bcaPageTestId = detail.testId;
    for (const resultdetail::Cell &cell : detail.cells)
        m_bcaTable->setItem(cell.row, cell.column, new QTableWidgetItem(cell.text));
    qDebug() << "global::currentDataIndex after display=" << global::currentDataIndex;
}
