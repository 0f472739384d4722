#pragma once

#include <QObject>
#include <QUrl>

// Stands in for the user's browser and for the desktop's handler of every other scheme an address
// from the service might carry, and records what it is handed. Lives for a whole test case.
class BrowserRecorder : public QObject
{
    Q_OBJECT

public:
    BrowserRecorder();
    ~BrowserRecorder() override;

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url);
};
