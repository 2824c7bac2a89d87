// pellix: the desktop program.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pellix");
    QMainWindow window;
    window.setWindowTitle("Pellix");
    window.show();
    return app.exec();
}
