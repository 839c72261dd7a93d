#pragma once

#include "OfficeConnection.h"

#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/text/XTextDocument.hpp>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A private LibreOffice for one test program: started once with a profile of
// its own and a pipe named after the test process, stopped at the end. Tests
// that need it skip when soffice is not installed.
class OfficeFixture
{
public:
    OfficeFixture();
    ~OfficeFixture();

    // Starts the office (headless unless withDisplay) and connects; on failure
    // reason tells why.
    bool start(QString* reason, bool withDisplay = false);
    void stop();
    // Kills soffice.bin outright, as a crash would.
    void kill();

    const std::shared_ptr<OfficeConnection>& connection() const { return m_connection; }
    QString pipeName() const { return m_pipeName; }
    QString profileUrl() const;
    QString tempPath(const QString& name) const { return m_dir.filePath(name); }

    // A new Writer document holding paragraphs (a table of rows × columns cells
    // is inserted after paragraph tableAfter when cells is not empty).
    css::uno::Reference<css::frame::XFrame> newDocument(const QStringList& paragraphs, const QStringList& cells = {},
                                                        int columns = 2, int tableAfter = 0);
    // Closes the document of frame without asking.
    static void closeDocument(const css::uno::Reference<css::frame::XFrame>& frame);
    static css::uno::Reference<css::frame::XModel> model(const css::uno::Reference<css::frame::XFrame>& frame);

    // The pids of soffice.bin processes that serve this fixture's pipe.
    QList<qint64> officePids() const;

    // The marks the office draws in a paragraph holding text (as the office's
    // proofreading asks Quillet's extension): start and length of each, in
    // the paragraph's UTF-16 units. Empty without the extension.
    QList<QPair<int, int>> drawnMarks(const QString& text) const;

private:
    css::uno::Reference<css::text::XTextDocument> loadNewDocument();

    QTemporaryDir m_dir;
    QString m_pipeName;
    QProcess m_process;
    std::shared_ptr<OfficeConnection> m_connection;
    bool m_withDisplay = false;
};
