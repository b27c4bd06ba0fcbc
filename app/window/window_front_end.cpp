// The window shell's way in: a Qt application around the window object, started by the loader.
#include "app/window/window_front_end.h"

#include <QApplication>
#include <QMessageBox>

#include "app/platform/clock.h"
#include "app/window/main_window.h"

namespace app {

void runWindow(Program& program, int& argc, char** argv) {
    QApplication application(argc, argv);
    // Names the menu entry, so a Wayland shell shows its icon for this window.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.vesk"));
    RealClock clock;
    WindowHooks hooks;
    hooks.end_program = [&program](int status) { program.exit(status); };
    hooks.report_fatal = [&program](const std::string& fault) {
        printError("run-time error: " + fault);
        QMessageBox::critical(
            nullptr, QStringLiteral("vesk"),
            QStringLiteral("Run-time error: %1").arg(QString::fromStdString(fault)));
        program.exit(1);
    };
    MainWindow window(program.port(), clock, std::move(hooks));
    window.load();
    // Not modal: the window stays usable, and the tune can still be tried.
    program.sayWhatAnswered([&window](const std::string& line) {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("vesk"),
                                    QString::fromStdString(line), QMessageBox::Ok, &window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    });
    QApplication::exec();
    program.exit(0);
}

}  // namespace app

extern "C" void vesk_window_run(app::Program* program, int* argc, char** argv) {
    app::runWindow(*program, *argc, argv);
}
