// The floor the program is measured against: a minimal Qt program linked to Widgets and Network.
// Without arguments it shows one label for 0.8 s; with any argument it returns at once, which is
// what loading Qt costs.

#include <QApplication>
#include <QLabel>
#include <QNetworkRequest>
#include <QTimer>

int main(int argc, char *argv[])
{
    if (argc > 1)
        return 0;
    QApplication app(argc, argv);
    QLabel label(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1/"))).url().host());
    label.show();
    QTimer::singleShot(800, &app, &QCoreApplication::quit);
    return QApplication::exec();
}
