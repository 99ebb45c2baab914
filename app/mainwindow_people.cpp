// Main window slots of the person registry: they open the registry dialog
// (people live in PersonRegistryDlg) and act on it while it is open, and the
// import of people from a CSV file with a progress dialog and a summary box.
// Reading, checking and storing the file live in people/personimport.
#include "app/mainwindow.h"

#include "exchange/errortext.h"
#include "people/personimport.h"

#include <QDebug>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include <algorithm>

void MainWindow::usersList()
{
    qDebug() << "usersList function";
    PersonRegistryDlg dialog(newFlag, UUID, this);
    m_registry = &dialog;
    connect(&dialog, &PersonRegistryDlg::personResultsRequested, this, &MainWindow::dataListWithPerson);
    connect(&dialog, &PersonRegistryDlg::personHistoryRequested, this, &MainWindow::personHistory);
    connect(&dialog, &PersonRegistryDlg::importRequested, this, &MainWindow::usersImport);
    connect(&dialog, &PersonRegistryDlg::pcControlStartRequested, this, &MainWindow::startPCctrl);
    connect(&dialog, &PersonRegistryDlg::pcControlStopRequested, this, &MainWindow::stopPCctrl);
    dialog.exec();
}

void MainWindow::searchPerson2()
{
    if (m_registry)
        m_registry->searchPerson2();
}

void MainWindow::refreshPerson()
{
    if (m_registry)
        m_registry->refreshPerson();
    else
        qDebug() << "refreshPerson function";
}

void MainWindow::addPerson()
{
    if (m_registry)
        m_registry->addPerson();
    else
        newFlag = 1; // the next opening of the registry starts with a new entry
}

void MainWindow::savePerson()
{
    if (m_registry)
        m_registry->savePerson();
}

void MainWindow::deletePerson()
{
    if (m_registry)
        m_registry->deletePerson();
}

QString MainWindow::chooseImportFile()
{
    if (m_hasPresetImportFile) {
        m_hasPresetImportFile = false;
        return m_presetImportFile;
    }
    return QFileDialog::getOpenFileName(this, tr("选择CSV文件"), QStringLiteral("../"),
                                        tr("CSV文件 (*.csv)"));
}

void MainWindow::usersImport()
{
    qDebug() << "usersImport function";
    const QString fileName = chooseImportFile();
    QWidget *parent = m_registry ? static_cast<QWidget *>(m_registry) : this;

    personimport::TextEncoding encoding = personimport::TextEncoding::Utf8;
    QString error;
    bool notText = false;
    const std::optional<QList<csv::Record>> records =
        personimport::readRecords(fileName, &encoding, &error, &notText);
    if (!records) {
        qDebug() << "Cannot open file for writing: " << fileName << error;
        if (notText) {
            personimport::ImportResult refused;
            refused.notText = true;
            QMessageBox::warning(parent, tr("导入数据"), personimport::summarize(refused).text,
                                 QMessageBox::Ok);
        } else {
            QMessageBox::warning(parent, tr("导入数据"),
                                 fileName.isEmpty()
                                     ? tr("文件无法打开!")
                                     : tr("文件无法打开!\n%1").arg(exchange::systemErrorText(error)),
                                 QMessageBox::Ok);
        }
        refreshPerson();
        return;
    }

    QProgressDialog progress(tr("正在导入人员数据…"), tr("取消"), 0, std::max(1, int(records->size())),
                             parent);
    progress.setWindowTitle(tr("导入数据"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    // setValue lets a window-modal progress dialog process events, so the
    // window repaints and the cancel button is heard during the import. The
    // instrument links rest meanwhile: a measurement stored now would join
    // the import's transaction and share its fate.
    suspendInstrumentLinks();
    personimport::ImportResult result =
        personimport::importRecords(*records, [&progress](int done, int total) {
            progress.setMaximum(std::max(1, total));
            progress.setValue(done);
            return !progress.wasCanceled();
        });
    result.encoding = encoding;
    progress.close();
    resumeInstrumentLinks();

    const personimport::Summary summary = personimport::summarize(result);
    qDebug() << "import summary:" << summary.text;
    QMessageBox box(summary.information ? QMessageBox::Information : QMessageBox::Warning, summary.title,
                    summary.text, QMessageBox::NoButton, parent);
    box.addButton(tr("确定"), QMessageBox::AcceptRole);
    box.exec();
    refreshPerson();
}
