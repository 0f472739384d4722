#include "scenario.h"
#include "scriptedhttpserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Stands in for the vendor's web service on 127.0.0.1, answering as a scenario file says.");
    parser.addHelpOption();
    const QCommandLineOption portOption("port", "Port to listen on; 0 picks a free one.", "N");
    const QCommandLineOption scenarioOption(
        "scenario", "Scenario file (JSON), read afresh for every request.", "FILE");
    const QCommandLineOption logOption(
        "log", "Append one JSON line per request (method, path, query) to FILE.", "FILE");
    parser.addOptions({portOption, scenarioOption, logOption});
    parser.process(app);

    bool validPort = false;
    const uint port = parser.value(portOption).toUInt(&validPort);
    if (!validPort || port > 65535 || !parser.isSet(scenarioOption)) {
        err() << "veltro-standin: --port N and --scenario FILE are required\n\n"
              << parser.helpText() << Qt::flush;
        return 2;
    }

    QFile log(parser.value(logOption));
    // Unbuffered so each line is on disk as soon as it is written: tests read the log while the
    // service runs, and a killed service loses nothing.
    if (parser.isSet(logOption) &&
        !log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        err() << "veltro-standin: cannot open the log " << log.fileName() << ": "
              << log.errorString() << Qt::endl;
        return 1;
    }

    const Scenario scenario(parser.value(scenarioOption));
    ScriptedHttpServer server;
    server.setHandler(
        [&scenario](const RecordedRequest &request) { return scenario.replyFor(request.path); });
    if (log.isOpen()) {
        QObject::connect(&server, &ScriptedHttpServer::requestReceived,
                         [&log](const RecordedRequest &request) {
                             const QJsonObject line{
                                 {"method", QString::fromLatin1(request.method)},
                                 {"path", request.path},
                                 {"query", request.query},
                             };
                             log.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
                         });
    }
    if (!server.listen(quint16(port))) {
        err() << "veltro-standin: cannot listen on 127.0.0.1:" << port << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << "listening on " << server.port() << Qt::endl;
    return app.exec();
}
