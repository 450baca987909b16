#include <QApplication>
#include <QWidget>

// The floor of the start-up benchmark: a plain 640 x 480 window and nothing
// else, titled so that the benchmark finds it as it finds the emulator.
int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Zelvo Emulator"));
    window.setFixedSize(640, 480);
    window.show();
    return application.exec();
}
