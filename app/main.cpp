// OvHorizel's entry point.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("ORVEX Horizel 2");
    window.show();
    return app.exec();
}
