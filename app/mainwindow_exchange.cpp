// Main window slots of the data exchange: upload of one result over HTTP,
// the two CSV exports and the database backup. The work itself is done by
// exchange/; these slots ask for files, show progress and tell the operator.
#include "app/mainwindow.h"

#include "app/globals.h"
#include "exchange/backup.h"
#include "exchange/csvexport.h"
#include "exchange/upload.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressDialog>
#include <QSqlDatabase>
#include <QTimer>
#include <QToolBar>

namespace {
void showBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    box.addButton(MainWindow::tr("确定"), QMessageBox::AcceptRole);
    box.exec();
}

int testIdFromField(const QString &text)
{
    bool ok = false;
    const int id = text.trimmed().toInt(&ok, 10);
    return ok ? id : 0;
}
} // namespace

void MainWindow::createUploadActions()
{
    m_network = new QNetworkAccessManager(this);
    m_actUploadFit = new QAction(QIcon(QStringLiteral(":/image/icon-upload.png")), tr("上传体质数据"), this);
    m_actUploadFit->setIconText(tr("上传体质数据"));
    m_actUploadFit->setToolTip(tr("上传体质测定结果页中选中的测试记录"));
    connect(m_actUploadFit, &QAction::triggered, this, &MainWindow::uploadPhy);
    m_actUploadBca =
        new QAction(QIcon(QStringLiteral(":/image/icon-upload2.png")), tr("上传体成分数据"), this);
    m_actUploadBca->setIconText(tr("上传体成分数据"));
    m_actUploadBca->setToolTip(tr("上传当前的体成分测试记录"));
    connect(m_actUploadBca, &QAction::triggered, this, &MainWindow::uploadBCA);
    m_toolBar->addActions({m_actUploadFit, m_actUploadBca});
}

void MainWindow::uploadPhy()
{
    qDebug() << "uploadPhy function";
    // The fitness page's hidden field holds the test number of its selected row.
    global::currentTestID = testIdFromField(m_fitTestIdEdit->text());
    qDebug() << "当前测试记录是:" << global::currentTestID;
    uploadFitTest(global::currentTestID);
}

void MainWindow::uploadFitTest(int testId)
{
    global::currentTestID = testId;
    const exchange::RecordLookup lookup = exchange::readFitRecord(testId);
    qDebug() << "当前查询语句是：" << lookup.statement << testId;
    if (testId == 0)
        qDebug() << "找出最后记录:";
    if (lookup.found) {
        qDebug() << "TestID:" << lookup.record.testId << " Name:" << lookup.record.name
                 << " WOLI:" << lookup.record.member(QStringLiteral("WOLI"));
    }
    sendUpload(lookup);
}

void MainWindow::uploadBCA()
{
    qDebug() << "uploadBCA function------------------------------------------------";
    // The record shown on the body-composition page.
    uploadBcaTest(m_bcaPageTestId);
}

void MainWindow::uploadBcaTest(int testId)
{
    global::currentTestID = testId;
    const exchange::RecordLookup lookup = exchange::readBcaRecord(testId);
    qDebug() << "当前查询语句是：" << lookup.statement << testId;
    sendUpload(lookup);
}

void MainWindow::sendUpload(const exchange::RecordLookup &lookup)
{
    m_stateEdit->setToolTip(QString());
    if (!lookup.error.isEmpty()) {
        qDebug() << "upload query failed:" << lookup.error;
        m_stateEdit->setText(exchange::uploadFailedText());
        m_stateEdit->setToolTip(lookup.error);
        return;
    }
    if (!lookup.found) {
        // Nothing stored under this number: an empty record is not sent.
        qDebug() << "upload: no such test record";
        m_stateEdit->setText(exchange::uploadNoRecordText());
        return;
    }
    const QByteArray body = lookup.record.body();
    qDebug() << "json doc:" << QString::fromUtf8(body);

    const QString address = exchange::readPostAddress();
    qDebug() << "upload addressStr=" << address;
    QString why;
    const QUrl url = exchange::checkedUploadUrl(address, &why);
    if (url.isEmpty()) {
        qDebug() << "upload refused:" << why;
        m_stateEdit->setText(exchange::uploadFailedText());
        m_stateEdit->setToolTip(why);
        return;
    }

    QNetworkReply *reply = m_network->post(exchange::uploadRequest(url, body), body);
    m_uploadReply = reply;
    // A server that never answers must not leave the upload pending.
    auto *timeout = new QTimer(reply);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, reply, [reply] {
        qDebug() << "upload timed out";
        reply->setProperty("timedOut", true);
        reply->abort();
    });
    timeout->start(m_uploadTimeoutMs);
    connect(reply, &QNetworkReply::finished, this, &MainWindow::uploadFinished);
    m_stateEdit->setText(tr(" 正在上传数据…"));
}

void MainWindow::uploadFinished()
{
    qDebug() << "HTTP upload finished";
    // Each reply reports itself; a later upload may already be under way.
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        reply = m_uploadReply;
    if (!reply)
        return;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
        const QString reason = reply->property("timedOut").toBool()
                                   ? tr("服务器在 %1 秒内没有应答").arg(m_uploadTimeoutMs / 1000.0)
                                   : reply->errorString();
        qDebug() << "upload failed:" << status << reply->error() << reason;
        m_stateEdit->setText(exchange::uploadFailedText());
        m_stateEdit->setToolTip(reason);
        return;
    }
    m_stateEdit->setText(exchange::uploadSucceededText());
    qDebug() << "replyMessage=" << QString::fromUtf8(reply->readAll());
}

QString MainWindow::chooseExportFile()
{
    if (m_hasPresetExportFile) {
        m_hasPresetExportFile = false;
        return m_presetExportFile;
    }
    return QFileDialog::getSaveFileName(this, tr("CSV file"), QStringLiteral("../"), tr("Files (*.csv)"));
}

void MainWindow::runExport(bool fitness)
{
    const QString fileName = chooseExportFile();
    if (fileName.isEmpty()) {
        qDebug() << "Cannot open file for writing: " << fileName;
        return;
    }

    QProgressDialog progress(tr("正在导出数据…"), tr("取消"), 0, 1, this);
    progress.setWindowTitle(fitness ? tr("体测测试数据导出") : tr("体成分测试数据导出"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    // setValue of a window-modal progress dialog lets events through, so the
    // window repaints and the cancel button is heard.
    const exchange::ExportProgress onProgress = [&progress](qint64 done, qint64 total) {
        progress.setMaximum(int(qMax<qint64>(1, qMax(done, total))));
        progress.setValue(int(done));
        return !progress.wasCanceled();
    };
    const exchange::ExportResult result =
        fitness ? exchange::exportFit(fileName, onProgress) : exchange::exportBca(fileName, onProgress);
    progress.close();

    if (result.ok) {
        qDebug() << "export written:" << fileName << result.lines << "lines";
        showBox(this, QMessageBox::Information, tr("导出数据成功"), tr("信息已保存在%1！").arg(fileName));
    } else if (result.cancelled) {
        qDebug() << "export cancelled, no file written:" << fileName;
    } else {
        qDebug() << "export failed:" << fileName << result.error;
        showBox(this, QMessageBox::Warning, tr("导出数据失败"),
                tr("数据导出失败，文件%1没有保存。\n%2").arg(fileName, result.error));
    }
}

void MainWindow::dataExport()
{
    qDebug() << "dataExport function";
    runExport(false);
}

void MainWindow::dataFitExport()
{
    qDebug() << "dataFitExport function";
    runExport(true);
}

void MainWindow::DBbackup()
{
    qDebug() << "DBbackup function";
    const QString dbFile = QSqlDatabase::database(QSqlDatabase::defaultConnection, false).databaseName();
    qDebug() << (QFile::exists(dbFile) ? "dbfile exists" : "dbfile does not exists");
    const QDateTime now = QDateTime::currentDateTime();
    const QString target = exchange::backupTarget(now);
    qDebug() << now.toString(QStringLiteral("yyyyMMddhhmmss")) << target;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const exchange::BackupResult result = exchange::backupDatabase(target);
    QApplication::restoreOverrideCursor();
    if (result.ok) {
        showBox(this, QMessageBox::Information, tr("数据库备份"),
                tr("数据库备份成功,信息已保存在%1！").arg(target));
    } else {
        qDebug() << "backup failed:" << result.error;
        showBox(this, QMessageBox::Information, tr("数据库备份"),
                tr("数据库备份失败！") + QLatin1Char('\n') + result.error);
    }
}
