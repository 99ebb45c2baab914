// The one top-level window: actions, menus, toolbar with the instrument
// status, the fitness and body-composition pages, and the slots that wire the
// operator's actions and the instrument links to the logic classes.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <memory>

#include "fitness/fitnesssession.h"
#include "records/measurement.h"

namespace analyzer {
class AnalyzerSession;
}

class QAction;
class QComboBox;
class QSpinBox;
class QDataWidgetMapper;
class QLabel;
class QLineEdit;
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
    // The person result list for |name| (what "查人员测试结果" opens for the form's name).
    void showPersonResults(const QString &name);

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

    // Reports
    void viewReport();
    void viewReportFit();
    void printReport();
    void printReportPic();
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

private:
    void createStatusNotice();
    void createActions();
    void createMenus();
    void createToolBar();
    void createPages();

    // Unit identifier and person fields of the record being stored or sent.
    QString UUID;
    int newFlag = 0;
    QString m_uid;
    QString m_name;
    QString m_sex;
    QString m_birthYear;

    std::unique_ptr<QTimer> BCAtimer;
    std::unique_ptr<QTimer> fitTimer;

    QSqlTableModel *m_reportModel = nullptr;
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
    // Person registry: the model and the form fields exist while the registry
    // dialog is open (QPointer: they read null once it is gone). The PC-control
    // and person-result slots read the form fields too.
    QPointer<QSqlTableModel> personModel;
    QPointer<QTableView> personView;
    QPointer<QDataWidgetMapper> personMapper;
    QPointer<QLineEdit> searchEdit;
    QPointer<QLineEdit> uidEdit;
    QPointer<QLineEdit> nameEdit;
    QPointer<QComboBox> sexCombo;
    QPointer<QSpinBox> birthYearSpin;
    QPointer<QSpinBox> heightSpin;
    QPointer<QLineEdit> phoneEdit;
    QPointer<QLineEdit> noteEdit;
    QString m_presetImportFile;
    bool m_hasPresetImportFile = false;
    void initializeModelPerson();
    void selectPersonRow(int row);
    int currentPersonId() const;
    void returnToPerson(int id);
    QString chooseImportFile();
    // --- result lists ---
    // Models of the list dialogs (they live with the window) and the widgets
    // of the dialog built last; the widgets read null once it has closed.
    QSqlQueryModel *m_resultModel = nullptr; // body-composition and person lists
    QSqlQueryModel *m_fitListModel = nullptr;
    QPointer<QTableView> m_resultView;
    QPointer<QLineEdit> m_resultSearchEdit;
    QPointer<QLineEdit> m_resultTestIdEdit; // null in the person dialog
    QPointer<QDataWidgetMapper> m_resultMapper;
    QPointer<QTableView> m_fitListView;
    QPointer<QLineEdit> m_fitListSearchEdit;
    QPointer<QLineEdit> m_fitListTestIdEdit;
    QPointer<QDataWidgetMapper> m_fitListMapper;
    // Batch-print range ("打印起止测试编号") of the list dialog built last.
    QPointer<QLineEdit> printStartEdit;
    QPointer<QLineEdit> printEndEdit;
    void runResultListDialog(const QString &caption, bool personDialog, const QString &personName);
    void uploadChosenResult();
    void uploadChosenFitResult();
    // --- reports ---
    // --- data exchange ---
};
