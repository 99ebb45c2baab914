// Process entry: shared state and database first, then the main window.
#include "app/database.h"
#include "app/globals.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString dbPath = QStringLiteral("maindb.db");
    initProcessState(dbPath);

    int code = 0;
    {
        MainWindow window;
        window.show();
        // A database without its tables cannot store anything: say so once the
        // window is up instead of failing silently on every later query.
        const QString problem = schemaProblemText(dbPath);
        if (!problem.isEmpty()) {
            QTimer::singleShot(0, &window, [&window, problem] {
                QMessageBox::warning(&window, QObject::tr("数据库错误"), problem);
            });
        }
        code = app.exec();
    }
    releaseProcessState();
    return code;
}
