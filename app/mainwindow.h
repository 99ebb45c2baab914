// The one top-level window: actions, menus, toolbar with the instrument
// status, the fitness and body-composition pages, and the slots that wire the
// operator's actions and the instrument links to the logic classes.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <memory>

#include "analyzer/linkwatch.h"
#include "dialogs/personregistrydlg.h"
#include "dialogs/resultlistdlg.h"
#include "fitness/fitnesssession.h"
#include "records/measurement.h"
#include "reports/reportprint.h"

namespace analyzer {
class AnalyzerSession;
}
namespace exchange {
struct RecordLookup;
}
namespace history {
struct PersonHistory;
}

class QAction;
class QComboBox;
class QSpinBox;
class QDataWidgetMapper;
class QLabel;
class QLineEdit;
class QPrinter;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;
class QSqlQueryModel;
class QSqlTableModel;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTimer;
class QToolBar;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Widgets other parts and tests address.
    QLineEdit *stateEdit() const { return m_stateEdit; }
    QLabel *stateIcon() const { return m_stateIcon; }
    QTableView *fitTable() const { return m_fitView; }
    QTableWidget *bcaTable() const { return m_bcaTable; }
    QLineEdit *fitTestIdEdit() const { return m_fitTestIdEdit; }
    QToolBar *toolBar() const { return m_toolBar; }
    QAction *batchAction() const { return m_actBatch; }
    QAction *connectAction() const { return m_actConnect; }
    QString unitId() const { return UUID; }
    // Lasting status-bar warning while a measurement could not be stored; empty when none.
    QString storeWarning() const;
    QSqlQueryModel *fitModel() const { return m_fitModel; }

    // analyzer link accessors
    // The test console stops the polling tick while it talks to the analyzer
    // itself and starts it again when it closes (no-ops when polling is off).
    void pauseAnalyzerPolling();
    void resumeAnalyzerPolling();
    analyzer::AnalyzerSession *analyzerSession() const { return m_analyzer; }

    // measurement accessors
    // The decoded parts of the last downloaded measurement; saveTestData reads them.
    MeasurementLists &measurement() { return m_measurement; }

    // result lists accessors
    // The results stored under user number |uid| (what "查人员测试结果"
    // opens for the registry form's person; |name| only titles the list).
    void showPersonResults(const QString &uid, const QString &name = QString());
    // The history dialog "历史趋势" of user number |uid|.
    void showPersonHistory(const QString &uid);

    // people accessors
    // The file usersImport takes next instead of asking the operator (an
    // empty name acts like a cancelled file dialog); used once.
    void presetImportFile(const QString &path)
    {
        m_presetImportFile = path;
        m_hasPresetImportFile = true;
    }
    int personEntryFlag() const { return newFlag; }

    // fitness link accessors
    // Reception state and the last value of every fitness item.
    const fitness::FitnessSession &fitSession() const { return m_fitSession; }
    const fitness::FitValues &fitValues() const { return m_fitValues; }

    // reports accessors
    // The next print run writes into the PDF file |pdfPath| instead of asking
    // for a printer (used once; an empty name acts like a cancelled print dialog).
    void presetPrintOutput(const QString &pdfPath)
    {
        m_presetPrintOutput = pdfPath;
        m_hasPresetPrintOutput = true;
    }
    // Batch printing of the range typed as |firstText| .. |lastText| in the
    // current sheetTag: what printAllReport does with the list's range fields.
    void printTestRange(const QString &firstText, const QString &lastText);
    // data exchange accessors
    // Uploads one stored result; 0 means the newest row of its table. The
    // list dialogs' "上传数据" buttons call these with the chosen test.
    void uploadFitTest(int testId);
    void uploadBcaTest(int testId);
    // Time after which an unanswered upload counts as failed (30 s).
    void setUploadTimeout(int ms) { m_uploadTimeoutMs = ms; }
    // The file the next export writes instead of asking the operator (an
    // empty name acts like a cancelled file dialog); used once.
    void presetExportFile(const QString &path)
    {
        m_presetExportFile = path;
        m_hasPresetExportFile = true;
    }
    QAction *uploadFitAction() const { return m_actUploadFit; }
    QAction *uploadBcaAction() const { return m_actUploadBca; }
    // The upload message of the status bar; empty when none is shown.
    QString uploadStatus() const;

    QLineEdit *currentTestEdit() const { return m_currentTestEdit; }
    QTabWidget *pages() const { return m_tabs; }
    // What a closing window would interrupt ("体成分仪正在测试中", ...); empty when idle.
    QString busyText() const;

signals:
    void tidChanged(int tid);
    void fitRecorded();
    // global::BCAstate took a new value (the batch dialog shows the end of a batch).
    void analyzerStateChanged(int state);

public slots:
    // Shell
    void config();
    void testBCA();
    void about();
    void help();

    // Analyzer link and collection pages
    void connectBCA();
    void checkBCAstate();
    void stopCheckTimer();
    void getData();
    void saveTestData();
    void startPCctrl();
    void stopPCctrl();
    void collect();
    void pcControl();
    void batchCollect();

    // Fitness station link
    void checkFitstate();
    void getFitData();

    // People
    void usersList();
    void usersImport();
    void searchPerson2();
    void refreshPerson();
    void addPerson();
    void savePerson();
    void deletePerson();

    // Result lists and pages
    void dataList();
    void dataListFit();
    void dataListWithPerson();
    void searchData();
    void searchDataWhole();
    void searchDataFit();
    void searchDataWholeFit();
    void setCurrentData();
    void setCurrentData2();
    void setCurrentDataFit();
    void setCurrentDataFit2();
    void displayData();
    void displayFitData();
    void deleteData();
    void deleteDataFit();
    // The history dialog of the person in the registry form.
    void personHistory();

    // Reports
    void viewReport();
    void viewReportFit();
    void printReport();
    void printReportPic();
    void printReportWithPic();
    void printReportFit();
    void printAllReport();
    void printAllReportFit();
    void savePdf();

    // Data exchange
    void uploadBCA();
    void uploadPhy();
    void uploadFinished();
    void dataExport();
    void dataFitExport();
    void DBbackup();

    // Group statistics ("统计分析")
    void groupStats();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createStatusNotice();
    void updateCurrentTestField();
    void openTypedTest();
    // Selects the fitness page row of |testId|; false when it has none.
    bool selectFitRow(int testId);
    void createActions();
    void createMenus();
    void createToolBar();
    void createPages();
    // Overlay print of global::printList on pre-printed sheets of |sheetTag|.
    void fillInPrint(const QString &sheetTag, const QString &bodyType);

    // Unit identifier and person fields of the record being stored or sent.
    QString UUID;
    int newFlag = 0;
    QString m_uid;
    QString m_name;
    QString m_sex;
    QString m_birthYear;

    std::unique_ptr<QTimer> BCAtimer;
    std::unique_ptr<QTimer> fitTimer;

    QSqlTableModel *m_unitModel = nullptr;

    // Actions
    QAction *m_actConfig = nullptr;
    QAction *m_actConnect = nullptr;
    QAction *m_actExit = nullptr;
    QAction *m_actCollect = nullptr;
    QAction *m_actPcControl = nullptr;
    QAction *m_actBatch = nullptr;
    QAction *m_actTestBCA = nullptr;
    QAction *m_actUsersList = nullptr;
    QAction *m_actUsersImport = nullptr;
    QAction *m_actDataList = nullptr;
    QAction *m_actDataListFit = nullptr;
    QAction *m_actDataExport = nullptr;
    QAction *m_actDataFitExport = nullptr;
    QAction *m_actBackup = nullptr;
    QAction *m_actAbout = nullptr;
    QAction *m_actHelp = nullptr;

    // Toolbar status widgets
    QToolBar *m_toolBar = nullptr;
    QLineEdit *m_currentTestEdit = nullptr;
    QLineEdit *m_stateEdit = nullptr;
    QLabel *m_stateIcon = nullptr;

    // Pages
    QTabWidget *m_tabs = nullptr;
    QTableView *m_fitView = nullptr;
    QSqlQueryModel *m_fitModel = nullptr;
    QDataWidgetMapper *m_fitMapper = nullptr;
    QLineEdit *m_fitTestIdEdit = nullptr;
    QPushButton *m_fitReportButton = nullptr;
    QTableWidget *m_bcaTable = nullptr;
    QPushButton *m_viewReportButton = nullptr;
    QPushButton *m_choosePersonButton = nullptr;
    QPushButton *m_overlayPrintButton = nullptr;

    // Each subsystem keeps the members of its slots in its own block below.
    // --- settings and command line ---
    // --- analyzer link ---
    // The dialogue with the analyzer (owned by the window), its clock, and
    // whether the test console has paused the polling tick.
    analyzer::AnalyzerSession *m_analyzer = nullptr;
    QElapsedTimer m_bcaClock;
    bool m_bcaPollingPaused = false;
    qint64 bcaNow();
    void wireAnalyzerSession();
    void listenToAnalyzer(bool listen);
    void writeToAnalyzer(const QByteArray &frame);
    // --- measurement saving and detail page ---
    MeasurementLists m_measurement;
    bool m_measurementStored = false; // outcome of the last saveTestData
    // Lasting warnings of the two links while a measurement waits for its
    // store; the state icon shows the error picture meanwhile.
    QLabel *m_storeWarningLabel = nullptr;
    QString m_bcaStoreWarning;
    QString m_fitStoreWarning;
    void setStoreWarning(QString *which, const QString &text);
    void showPortActive();
    // Unanswered queries of either link turn the state icon to the error
    // picture and show "仪器无响应" until the instrument answers again.
    analyzer::LinkWatch m_bcaWatch;
    analyzer::LinkWatch m_fitWatch;
    void watchPortFailures();
    // The person import stops both links so that no measurement is stored
    // inside its transaction.
    bool m_linksSuspended = false;
    bool m_fitTimerWasActive = false;
    void suspendInstrumentLinks();
    void resumeInstrumentLinks();
    // --- collection pages and console ---
    // --- fitness link ---
    // Poll and reception state of the station (comi, askNum, containerFlag and
    // the collected text), the item values and the clock of the reception time-out.
    fitness::FitnessSession m_fitSession;
    fitness::FitValues m_fitValues;
    QElapsedTimer m_fitClock;
    qint64 fitNow();
    bool storeFitResult(const fitness::FitResult &result); // true when stored
    // --- people ---
    // The registry while it is open (null otherwise).
    QPointer<PersonRegistryDlg> m_registry;
    QString m_presetImportFile;
    bool m_hasPresetImportFile = false;
    QString chooseImportFile();
    // --- result lists ---
    // The body-composition or person list and the fitness list while open.
    QPointer<ResultListDlg> m_resultList;
    QPointer<ResultListDlg> m_fitList;
    // The list dialog opened last (its batch-print range).
    QPointer<ResultListDlg> m_openList;
    void runResultListDialog(ResultListDlg &dialog);
    // "查看详情": the chosen record on the main window's page; the list closes.
    void showOnPage(ResultListDlg &dialog, bool fitness);
    void uploadChosenResult();
    void uploadChosenFitResult();
    // --- reports ---
    QString m_presetPrintOutput;
    bool m_hasPresetPrintOutput = false;
    bool choosePrinter(QPrinter &printer);
    // Preview of one record; its print and PDF buttons use that record.
    void runReportPreview(const QString &title, const QString &sheetTag, int testId);
    void printReports(const QString &sheetTag, const QList<int> &list, bool batch = false,
                      const reports::NumberRuns &missing = {});
    void saveReportPdf(const QString &sheetTag, int testId);
    // Test number of the record the body-composition page shows (0: none yet,
    // which the report and upload take as the newest record).
    int m_bcaPageTestId = 0;
    void readSelectedSheet();
    // --- person history ---
    void printHistory(const history::PersonHistory &history);
    void saveHistoryPdf(const history::PersonHistory &history);
    // --- data exchange ---
    // One network access manager for the window; the latest reply is kept
    // until uploadFinished releases it.
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_uploadReply;
    int m_uploadTimeoutMs = 30000;
    QAction *m_actUploadFit = nullptr;
    QAction *m_actUploadBca = nullptr;
    QString m_presetExportFile;
    bool m_hasPresetExportFile = false;
    void createUploadActions();
    void sendUpload(const exchange::RecordLookup &lookup);
    // Upload progress and outcome in the status bar and in |origin| (the
    // list dialog that started it, if any).
    void showUploadStatus(const QString &text, bool ok, QLabel *origin, bool running = false);
    struct PendingUpload
    {
        QString subject;
        QPointer<QLabel> origin;
    };
    QHash<QNetworkReply *, PendingUpload> m_pendingUploads;
    QPointer<QLabel> m_uploadOrigin; // set while a list dialog starts an upload
    QLabel *m_uploadLabel = nullptr;
    QTimer *m_uploadLabelTimer = nullptr;
    QString chooseExportFile();
    void runExport(bool fitness);
    // --- group statistics ---
    QAction *m_actStats = nullptr;
    QAction *createStatsAction();
};
