#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the desktop's browser: register it with
// QDesktopServices::setUrlHandler(scheme, &recorder, "open") and read the URLs
// the program tried to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};
