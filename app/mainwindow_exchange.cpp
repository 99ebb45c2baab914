// Main window slots of the data exchange: upload of one result over HTTP,
// the two CSV exports and the database backup. The work itself is done by
// exchange/; these slots ask for files, show progress and tell the operator.
#include "app/mainwindow.h"

#include "app/globals.h"
#include "exchange/backup.h"
#include "exchange/csvexport.h"
#include "exchange/errortext.h"
#include "exchange/upload.h"
#include "exchange/xlsxexport.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressDialog>
#include <QSqlDatabase>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

namespace {
constexpr int kUploadSuccessShownMs = 6000;

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
    m_uploadLabel = new QLabel(this);
    m_uploadLabel->setObjectName(QStringLiteral("uploadStatus"));
    m_uploadLabel->hide();
    statusBar()->insertPermanentWidget(0, m_uploadLabel);
    m_uploadLabelTimer = new QTimer(this);
    m_uploadLabelTimer->setSingleShot(true);
    connect(m_uploadLabelTimer, &QTimer::timeout, this, [this] {
        m_uploadLabel->clear();
        m_uploadLabel->hide();
    });
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
    // The subject names what goes out; a list dialog that started the upload
    // hears the outcome too.
    const QString subject =
        tr("%1（测试编号 %2）")
            .arg(lookup.record.testItem == QLatin1String("Fit") ? tr("体质数据") : tr("体成分数据"),
                 lookup.found ? lookup.record.testId : QString::number(global::currentTestID));
    const QPointer<QLabel> origin = m_uploadOrigin;
    if (!lookup.error.isEmpty()) {
        qDebug() << "upload query failed:" << lookup.error;
        showUploadStatus(exchange::uploadFailedText(subject, exchange::systemErrorText(lookup.error)), false,
                         origin);
        return;
    }
    if (!lookup.found) {
        // Nothing stored under this number: an empty record is not sent.
        qDebug() << "upload: no such test record";
        showUploadStatus(exchange::uploadFailedText(subject, exchange::uploadNoRecordText()), false, origin);
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
        showUploadStatus(exchange::uploadFailedText(subject, why + tr("（请在“连接与设置”中填写上传地址）")),
                         false, origin);
        return;
    }

    QNetworkReply *reply = exchange::postUpload(*m_network, url, body, m_uploadTimeoutMs);
    m_uploadReply = reply;
    m_pendingUploads.insert(reply, {subject, origin});
    connect(reply, &QNetworkReply::finished, this, &MainWindow::uploadFinished);
    showUploadStatus(exchange::uploadStartedText(subject), true, origin, true);
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
    const PendingUpload pending = m_pendingUploads.take(reply);
    const exchange::UploadOutcome outcome = exchange::replyOutcome(reply);
    if (!outcome.ok) {
        qDebug() << "upload failed:" << outcome.httpStatus << reply->error() << outcome.reason;
        showUploadStatus(exchange::uploadFailedText(pending.subject, outcome.reason), false, pending.origin);
        return;
    }
    showUploadStatus(exchange::uploadSucceededText(pending.subject), true, pending.origin);
    qDebug() << "replyMessage=" << QString::fromUtf8(reply->readAll());
}

void MainWindow::showUploadStatus(const QString &text, bool ok, QLabel *origin, bool running)
{
    // The status bar keeps a failure until the next upload and a success for
    // a few seconds; the polling never writes there.
    const QString style = running ? QStringLiteral("color:#424242;")
                          : ok    ? QStringLiteral("color:#2e7d32;")
                                  : QStringLiteral("color:#c00000; font-weight:bold;");
    for (QLabel *label : {m_uploadLabel, origin}) {
        if (!label)
            continue;
        label->setStyleSheet(style);
        label->setText(text);
        label->setVisible(true);
    }
    m_uploadLabelTimer->stop();
    if (ok && !running)
        m_uploadLabelTimer->start(kUploadSuccessShownMs);
}

QString MainWindow::uploadStatus() const
{
    return m_uploadLabel->isHidden() ? QString() : m_uploadLabel->text();
}

QString MainWindow::chooseExportFile()
{
    if (m_hasPresetExportFile) {
        m_hasPresetExportFile = false;
        return m_presetExportFile;
    }
    const QString workbook = tr("Excel 工作簿 (*.xlsx)");
    QString filter = workbook;
    QString path = QFileDialog::getSaveFileName(this, tr("导出数据"), QStringLiteral("../"),
                                                workbook + QStringLiteral(";;") + tr("CSV (*.csv)"), &filter);
    // A name typed without a suffix gets the one of the chosen file type.
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += filter == workbook ? QStringLiteral(".xlsx") : QStringLiteral(".csv");
    return path;
}

void MainWindow::runExport(bool fitness)
{
    QString fileName = chooseExportFile();
    if (fileName.isEmpty()) {
        qDebug() << "Cannot open file for writing: " << fileName;
        return;
    }
    // A name typed without a suffix gets ".csv", as a PDF gets ".pdf".
    if (QFileInfo(fileName).suffix().isEmpty())
        fileName += QStringLiteral(".csv");

    QProgressDialog progress(tr("正在导出数据…"), tr("取消"), 0, 1, this);
    progress.setWindowTitle(fitness ? tr("体测测试数据导出") : tr("体成分测试数据导出"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    // setValue of a window-modal progress dialog lets events through, so the
    // window repaints and the cancel button is heard.
    // After the last row the workbook is still being compressed: the dialog
    // says so and keeps answering while the same figures come in.
    const exchange::ExportProgress onProgress = [&progress](qint64 done, qint64 total) {
        progress.setMaximum(int(qMax<qint64>(1, qMax(done, total))));
        progress.setValue(int(done));
        if (done >= total && done > 0)
            progress.setLabelText(tr("正在保存文件…"));
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    };
    const exchange::ExportResult result = exchange::exportResults(
        fitness ? exchange::ExportTable::Fitness : exchange::ExportTable::BodyComposition, fileName,
        onProgress);
    progress.close();

    if (result.ok) {
        qDebug() << "export written:" << fileName << result.lines << "lines";
        showBox(this, QMessageBox::Information, tr("导出数据成功"), tr("信息已保存在%1！").arg(fileName));
    } else if (result.cancelled) {
        qDebug() << "export cancelled, no file written:" << fileName;
    } else {
        qDebug() << "export failed:" << fileName << result.error;
        showBox(
            this, QMessageBox::Warning, tr("导出数据失败"),
            tr("数据导出失败，文件%1没有保存。\n%2").arg(fileName, exchange::systemErrorText(result.error)));
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
    // The operator is told the whole folder, not a path relative to the program.
    const QString shown = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(target).absoluteFilePath()));
    if (result.ok) {
        showBox(this, QMessageBox::Information, tr("数据库备份"),
                tr("数据库备份成功,信息已保存在%1！").arg(shown));
    } else {
        qDebug() << "backup failed:" << result.error;
        showBox(this, QMessageBox::Warning, tr("数据库备份"),
                tr("数据库备份失败！") + QLatin1Char('\n') + exchange::systemErrorText(result.error));
    }
}
