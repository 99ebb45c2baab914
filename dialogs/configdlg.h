// Settings dialog: the owning unit's data, the report sheet style, the
// upload address, and the opening and closing of the analyzer and
// fitness-station ports.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QDataWidgetMapper;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSqlTableModel;

class configDlg : public QDialog
{
    Q_OBJECT

public:
    explicit configDlg(QWidget *parent = nullptr);

    // Widgets tests and callers address.
    QComboBox *portList() const { return m_portList; }
    QComboBox *reportList() const { return m_reportList; }
    QLabel *statusLabel() const { return m_status; }
    QPushButton *scanButton() const { return m_scan; }
    QPushButton *openButton() const { return m_open; }
    QPushButton *fitOpenButton() const { return m_fitOpen; }
    QPushButton *closeButton() const { return m_close; }
    QLineEdit *unitNameEdit() const { return m_unitName; }
    QLineEdit *unitPhoneEdit() const { return m_unitPhone; }
    QLineEdit *unitIdEdit() const { return m_unitId; }
    QLineEdit *uploadAddressEdit() const { return m_uploadAddress; }
    // "数据库": the local file or a PostgreSQL server; applies at the next start.
    QRadioButton *dbFileButton() const { return m_dbFile; }
    QRadioButton *dbServerButton() const { return m_dbServer; }
    QLineEdit *dbHostEdit() const { return m_dbHost; }
    QLineEdit *dbPortEdit() const { return m_dbPort; }
    QLineEdit *dbNameEdit() const { return m_dbName; }
    QLineEdit *dbUserEdit() const { return m_dbUser; }
    QPushButton *dbSaveButton() const { return m_dbOk; }

signals:
    void stopTimer();

public slots:
    void modifyUnit();
    void sheetSelect();
    // Stores the upload address once it is an http or https address with a host.
    void saveUploadAddress();
    // Stores the database choice in the settings file (no password).
    void saveDatabaseChoice();
    void portScan();
    void portOpen();
    void fitPortOpen();
    void portClose();
    void enableButtonOpen(bool enable);
    void enableFitButtonOpen(bool enable);
    void enableButtonClose(bool enable);
    void enableButtonScan(bool enable);

private:
    class QGroupBox *buildDatabaseBox();
    // The open buttons follow the chosen port: enabled while a port is
    // chosen, their own port is closed and the other one does not hold it.
    void updateOpenButtons();
    // Opens |port| on the current port-list text; on success stores the flag in
    // |flag|, on failure reports the error. Returns whether the port opened.
    bool openSelected(class QSerialPort *port, QString &flag, const char *resultLog, const char *flagLog);

    QString portName;
    QString comNumber;

    QSqlTableModel *m_unitModel = nullptr;
    QDataWidgetMapper *m_unitMapper = nullptr;
    QSqlTableModel *m_reportModel = nullptr;

    QLineEdit *m_unitName = nullptr;
    QLineEdit *m_unitPhone = nullptr;
    QLineEdit *m_unitId = nullptr;
    QComboBox *m_portList = nullptr;
    QComboBox *m_reportList = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_unitOk = nullptr;
    QPushButton *m_sheetOk = nullptr;
    QPushButton *m_scan = nullptr;
    QPushButton *m_open = nullptr;
    QPushButton *m_fitOpen = nullptr;
    QPushButton *m_close = nullptr;
    QLineEdit *m_uploadAddress = nullptr;
    QPushButton *m_uploadOk = nullptr;
    QRadioButton *m_dbFile = nullptr;
    QRadioButton *m_dbServer = nullptr;
    QLineEdit *m_dbHost = nullptr;
    QLineEdit *m_dbPort = nullptr;
    QLineEdit *m_dbName = nullptr;
    QLineEdit *m_dbUser = nullptr;
    QPushButton *m_dbOk = nullptr;
};
