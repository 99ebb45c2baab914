// Main window slots of the fitness station link: the poll tick, the reception
// handler that stores each result, and the refresh of the fitness page.
#include "app/mainwindow.h"

#include "analyzer/linkwatch.h"
#include "app/globals.h"
#include "exchange/errortext.h"
#include "fitness/fitnessstore.h"
#include "people/resultmodels.h"

#include <QDataWidgetMapper>
#include <QDebug>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSerialPort>
#include <QSqlDatabase>
#include <QSqlQueryModel>
#include <QTableView>

qint64 MainWindow::fitNow()
{
    if (!m_fitClock.isValid())
        m_fitClock.start();
    return m_fitClock.elapsed();
}

void MainWindow::checkFitstate()
{
    qDebug() << "checkFitstate now!!!!!";
    showPortActive();
    connect(fitPort, &QSerialPort::readyRead, this, &MainWindow::getFitData, Qt::UniqueConnection);
    const qint64 now = fitNow();
    if (m_fitWatch.portLost() && fitPort->isOpen())
        m_fitWatch.reset(); // opened again in the settings: watched afresh
    const fitness::FitnessSession::TickOutcome tick = m_fitSession.tick(now);
    if (tick.timedOut)
        m_stateEdit->setText(tr("体测结果接收超时，已放弃不完整的数据"));
    if (m_fitWatch.check(now) == analyzer::LinkWatch::Change::WentSilent) {
        qDebug() << "station silent for" << analyzer::kSilenceMs << "ms after a result request";
        m_stateEdit->setText(tr("仪器无响应（体测仪）"));
        showPortActive();
    }
    // Nothing goes to a closed port (the next tick tries again).
    if (!tick.write.isEmpty() && fitPort->isOpen())
        fitPort->write(tick.write);
}

void MainWindow::getFitData()
{
    qDebug() << "getFitData function......";
    const QByteArray bytes = fitPort->readAll();
    const qint64 now = fitNow();
    if (!bytes.isEmpty() && m_fitWatch.answered() == analyzer::LinkWatch::Change::Recovered) {
        qDebug() << "station answers again";
        m_stateEdit->setText(tr("体测仪已恢复响应"));
        showPortActive();
    }
    const int receivingBefore = m_fitSession.containerFlag();
    const fitness::FitnessSession::ReceiveOutcome rx = m_fitSession.receive(bytes, now);
    // The field shows what the station is doing, never its raw bytes.
    if (receivingBefore == 0 && m_fitSession.containerFlag() == 1) {
        m_stateEdit->setText(tr("体测仪有新成绩，正在接收…"));
        m_fitWatch.queried(now); // the result text is awaited now
    }
    if (rx.timedOut)
        m_stateEdit->setText(tr("体测结果接收超时，已放弃不完整的数据"));
    if (rx.resynced)
        m_stateEdit->setText(tr("体测数据线路干扰，已丢弃无效数据"));
    if (!rx.write.isEmpty() && fitPort->isOpen())
        fitPort->write(rx.write);
    // The result is acknowledged only once it is stored; unacknowledged, the
    // terminal offers it again at a later poll.
    if (rx.hasResult) {
        const QByteArray ack = m_fitSession.resultStored(storeFitResult(rx.result));
        if (!ack.isEmpty() && fitPort->isOpen())
            fitPort->write(ack);
    }
}

bool MainWindow::storeFitResult(const fitness::FitResult &result)
{
    const fitnessstore::StoreOutcome out = fitnessstore::storeResult(result, m_fitValues);
    if (out.ok) {
        setStoreWarning(&m_fitStoreWarning, QString());
        m_stateEdit->setText(tr("已收到体测成绩（用户编号 %1）").arg(out.uid));
        emit fitRecorded();
        qDebug() << "Signal emitted==============================!";
    } else {
        qDebug() << "fitness result not stored / 体测结果未保存:" << out.error;
        const QString why = exchange::databaseWriteErrorText(
            out.error, QSqlDatabase::database(QSqlDatabase::defaultConnection, false).databaseName());
        m_stateEdit->setText(tr("体测结果未能保存（用户编号 %1）：%2").arg(out.uid, why));
        setStoreWarning(
            &m_fitStoreWarning,
            tr("体测结果未能保存（用户编号 %1：%2），未确认接收，终端将重新发送").arg(out.uid, why));
    }
    global::currentPerson = out.uid;
    qDebug() << "当前人员是：" << global::currentPerson;
    return out.ok;
}

void MainWindow::displayFitData()
{
    qDebug() << "Display fit data";
    // The reload resets the model, which clears the selection the hidden
    // test-number field follows; put it back on the same test afterwards.
    const QModelIndex current = m_fitView->currentIndex();
    const QVariant testId = current.isValid() ? m_fitModel->index(current.row(), 1).data() : QVariant();
    initilizeModelFitResult(m_fitModel);
    if (!testId.isValid()) {
        m_fitMapper->toFirst();
        return;
    }
    // Rows are newest first: a stored result moves an older row down by at most one.
    const int from = current.row();
    while (m_fitModel->rowCount() <= from + 1 && m_fitModel->canFetchMore())
        m_fitModel->fetchMore();
    for (int row = from; row <= from + 1 && row < m_fitModel->rowCount(); ++row) {
        if (m_fitModel->index(row, 1).data() == testId) {
            m_fitView->setCurrentIndex(m_fitModel->index(row, current.column()));
            return;
        }
    }
    m_fitMapper->toFirst();
}
