// Process entry: shared state and database first, then the main window.
#include "app/database.h"
#include "app/dbtarget.h"
#include "app/globals.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "exchange/commandline.h"
#include "reports/pdfarchive.h"

#include <QApplication>
#include <QMessageBox>
#include <QTextStream>
#include <QTimer>

int main(int argc, char *argv[])
{
    // Which database every run below works on: --database, QUELMAR_DATABASE,
    // the settings file, or maindb.db.
    if (QString dbError; !takeDbTargetFromProcess(&argc, argv, &dbError)) {
        QTextStream(stderr) << "quelmar: " << dbError << "\n";
        return 2;
    }
    // --- data exchange jobs: --export-bca FILE, --export-fit FILE, --backup ---
    // They run without a window (QCoreApplication) and end the process.
    if (exchange::isJobCommandLine(argc, argv))
        return exchange::runJobCommandLine(argc, argv);
    // --- end of data exchange jobs ---

    // --help works without a display; every other option is read after the
    // application object has taken its own (-platform, -style, ...).
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--help" || arg == "-h") {
            QTextStream(stdout) << startOptionsHelp() << reports::pdfArchiveHelp();
            return 0;
        }
    }
    // --- PDF archive (--export-pdf): a run of its own, without a window ---
    if (reports::wantsPdfArchive(argc, argv))
        return reports::pdfArchiveMain(argc, argv);
    // --- end PDF archive ---
    QApplication app(argc, argv);
    installQuitOnSignals(&app);
    installQtChineseTranslation(&app);
    StartOptions options = parseStartOptions(app.arguments());
    if (options.help || !options.error.isEmpty()) {
        QTextStream err(options.help ? stdout : stderr);
        if (!options.error.isEmpty())
            err << options.error << "\n\n";
        err << startOptionsHelp();
        return options.help ? 0 : 2;
    }

    const DbTarget &database = activeDbTarget();
    initProcessState(database);

    int code = 0;
    {
        DemoInstruments demo;
        QStringList problems;
        if (options.demo) {
            QString error;
            if (demo.start(QCoreApplication::applicationDirPath(), &error)) {
                options.analyzerPort = demo.analyzerPath();
                options.stationPort = demo.stationPath();
                options.connect = true;
            } else {
                problems << error;
            }
        }
        problems << openStartPorts(options);

        MainWindow window;
        window.show();
        // A database without its tables cannot store anything: say so once the
        // window is up instead of failing silently on every later query.
        const QString schemaProblem = schemaProblemText(database);
        if (!schemaProblem.isEmpty())
            problems.prepend(schemaProblem);
        QTimer::singleShot(0, &window, [&window, &options, problems] {
            if (!problems.isEmpty())
                QMessageBox::warning(&window, QObject::tr("启动提示"), problems.join(QStringLiteral("\n\n")));
            if (options.connect)
                window.connectBCA();
            if (options.batch)
                window.batchCollect();
        });
        code = app.exec();
    }
    releaseProcessState();
    return code;
}
