// The start-up benchmark's peer: the least a Qt 6 program does to show a
// main window (a QMainWindow with one widget).
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("Hello")));
    window.resize(800, 600);
    window.show();
    return app.exec();
}
