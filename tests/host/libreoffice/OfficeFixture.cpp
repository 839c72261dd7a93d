#include "OfficeFixture.h"
#include "UnoSupport.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/linguistic2/XProofreader.hpp>
#include <com/sun/star/text/ControlCharacter.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <chrono>
#include <cerrno>
#include <csignal>
#include <unistd.h>
#include <cstdlib>
#include <exception>
#include <future>
#include <thread>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {
OfficeFixture* g_running = nullptr;

// Offices of test programs that crashed (their program is gone) would run on
// and load the machine: they are ended.
void endOrphanedOffices()
{
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : processes) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray arguments = cmdline.readAll();
        const int at = arguments.indexOf("pipe,name=quillet_test_");
        if (at < 0 || !arguments.split('\0').value(0).endsWith("soffice.bin"))
            continue;
        bool ok = false;
        const qint64 owner = arguments.mid(at + 23, arguments.indexOf(';', at) - at - 23).toLongLong(&ok);
        if (ok && owner > 0 && ::kill(pid_t(owner), 0) != 0 && errno == ESRCH)
            ::kill(pid.toInt(), SIGKILL);
    }
}

// Installs Quillet's office extension, which draws the marks, into profile.
// As root unopkg installs for every user only: that is done once per run of
// a test program.
bool installExtension(const QString& profileUrl, QString* reason)
{
    static bool sharedDone = false;
    const bool root = geteuid() == 0;
    if (root && sharedDone)
        return true;
    QProcess unopkg;
    unopkg.setProcessChannelMode(QProcess::MergedChannels);
    unopkg.start(QStringLiteral("bash"),
                 {QStringLiteral(QUILLET_INSTALL_EXTENSION), QStringLiteral(QUILLET_MARKS_OXT), profileUrl});
    if (!unopkg.waitForFinished(120000) || unopkg.exitStatus() != QProcess::NormalExit || unopkg.exitCode() != 0) {
        *reason = QStringLiteral("installing the office extension failed: ") + QString::fromLocal8Bit(unopkg.readAll());
        return false;
    }
    sharedDone = root;
    return true;
}
} // namespace

OfficeFixture::OfficeFixture()
    : m_pipeName(QStringLiteral("quillet_test_%1").arg(QCoreApplication::applicationPid()))
{
    // A test that dies on an exception takes its office along.
    g_running = this;
    static const std::terminate_handler previous = std::set_terminate([] {
        if (g_running)
            g_running->kill();
        if (previous)
            previous();
        std::abort();
    });
}

OfficeFixture::~OfficeFixture()
{
    stop();
    if (g_running == this)
        g_running = nullptr;
}

QString OfficeFixture::profileUrl() const
{
    return QStringLiteral("file://") + m_dir.filePath(QStringLiteral("profile"));
}

bool OfficeFixture::start(QString* reason, bool withDisplay)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) {
        *reason = QStringLiteral("LibreOffice (soffice) is not installed");
        return false;
    }
    if (!m_dir.isValid()) {
        *reason = QStringLiteral("no temporary folder");
        return false;
    }
    endOrphanedOffices();
    if (!installExtension(profileUrl(), reason))
        return false;
    QStringList arguments{QStringLiteral("--invisible"),
                          QStringLiteral("--norestore"),
                          QStringLiteral("--nologo"),
                          QStringLiteral("--nodefault"),
                          QStringLiteral("--accept=pipe,name=%1;urp;").arg(m_pipeName),
                          QStringLiteral("-env:UserInstallation=%1").arg(profileUrl())};
    m_withDisplay = withDisplay;
    if (!withDisplay)
        arguments.prepend(QStringLiteral("--headless"));
    // The office's output goes nowhere: an office that outlives a crashed test
    // must not hold the test's output open.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    if (qEnvironmentVariableIsEmpty("OFFICE_STDERR"))
        m_process.setStandardErrorFile(QProcess::nullDevice());
    else
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(soffice, arguments);
    if (!m_process.waitForStarted(10000)) {
        *reason = QStringLiteral("soffice did not start");
        return false;
    }
    // A new profile makes the office restart once before it listens.
    QDeadlineTimer deadline(90000);
    while (!deadline.hasExpired()) {
        m_connection = OfficeConnection::connect(m_pipeName);
        if (m_connection)
            return true;
        QThread::msleep(200);
    }
    *reason = QStringLiteral("the office did not open its pipe");
    stop();
    return false;
}

void OfficeFixture::disconnect()
{
    m_connection.reset();
}

void OfficeFixture::stop()
{
    // A visible office may ask about unsaved documents: it is ended outright.
    if (m_withDisplay)
        kill();
    if (m_connection && m_connection->isAlive() && !m_withDisplay) {
        office::guarded("ending the office", [&] { m_connection->desktop()->terminate(); });
    }
    m_connection.reset();
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(15000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    for (qint64 pid : officePids())
        ::kill(pid_t(pid), SIGKILL);
}

void OfficeFixture::kill()
{
    for (qint64 pid : officePids())
        ::kill(pid_t(pid), SIGKILL);
}

QList<qint64> OfficeFixture::officePids() const
{
    QList<qint64> pids;
    const QByteArray marker = QStringLiteral("name=%1;").arg(m_pipeName).toUtf8();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = cmdline.readAll();
        if (text.contains("soffice.bin") && text.contains(marker))
            pids << pid;
    }
    return pids;
}

Reference<frame::XModel> OfficeFixture::model(const Reference<frame::XFrame>& frame)
{
    // A frame whose document was closed has no controller.
    return office::guarded<Reference<frame::XModel>>("reading the model", {}, [&]() -> Reference<frame::XModel> {
        const Reference<frame::XController> controller = frame->getController();
        return controller.is() ? controller->getModel() : Reference<frame::XModel>();
    });
}

Reference<frame::XFrame> OfficeFixture::newDocument(const QStringList& paragraphs, const QStringList& cells,
                                                    int columns, int tableAfter)
{
    // Connected again after disconnect() (a loaded machine may make the first
    // tries miss).
    for (QDeadlineTimer deadline(30000);
         !m_connection && m_process.state() != QProcess::NotRunning && !deadline.hasExpired();) {
        m_connection = OfficeConnection::connect(m_pipeName);
        if (!m_connection)
            QThread::msleep(200);
    }
    if (!m_connection)
        return {};
    const Reference<text::XTextDocument> document = loadNewDocument();
    if (!document.is())
        return {};
    return office::guarded<Reference<frame::XFrame>>("making a test document", {}, [&] {
        Reference<text::XText> body = document->getText();
        auto appendEnd = [&] { return body->getEnd(); };
        for (int i = 0; i < paragraphs.size(); ++i) {
            if (i > 0)
                body->insertControlCharacter(appendEnd(), text::ControlCharacter::PARAGRAPH_BREAK, false);
            body->insertString(appendEnd(), office::toOUString(paragraphs.at(i)), false);
            if (i + 1 == tableAfter && !cells.isEmpty()) {
                body->insertControlCharacter(appendEnd(), text::ControlCharacter::PARAGRAPH_BREAK, false);
                Reference<lang::XMultiServiceFactory> factory(document, UNO_QUERY_THROW);
                Reference<text::XTextTable> table(factory->createInstance("com.sun.star.text.TextTable"),
                                                  UNO_QUERY_THROW);
                const int rows = int((cells.size() + columns - 1) / columns);
                table->initialize(rows, columns);
                body->insertTextContent(appendEnd(), Reference<text::XTextContent>(table, UNO_QUERY_THROW), false);
                const uno::Sequence<rtl::OUString> names = table->getCellNames();
                for (int c = 0; c < cells.size() && c < names.getLength(); ++c)
                    Reference<text::XText>(table->getCellByName(names[c]), UNO_QUERY_THROW)
                        ->setString(office::toOUString(cells.at(c)));
                // The table went in before the empty paragraph: the next
                // paragraph's text goes there.
                if (i + 1 < paragraphs.size())
                    body->insertString(appendEnd(), office::toOUString(paragraphs.at(++i)), false);
            }
        }
        Reference<frame::XModel> model(document, UNO_QUERY_THROW);
        return model->getCurrentController()->getFrame();
    });
}

Reference<text::XTextDocument> OfficeFixture::loadNewDocument()
{
    // A visible office (gtk3) can hang for good making a document's window
    // for a call of ours: the menu bar asks for the clipboard from the
    // calling thread, and that wait never ends. A document that has not come
    // after a while is given up; the office is restarted and asked once more.
    for (int attempt = 0; attempt < 2 && m_connection; ++attempt) {
        auto made = std::make_shared<std::promise<Reference<text::XTextDocument>>>();
        std::future<Reference<text::XTextDocument>> document = made->get_future();
        std::thread loader([connection = m_connection, made] {
            made->set_value(office::guarded<Reference<text::XTextDocument>>("making a test document", {}, [&] {
                Reference<frame::XComponentLoader> loader(connection->desktop(), UNO_QUERY_THROW);
                return Reference<text::XTextDocument>(
                    loader->loadComponentFromURL("private:factory/swriter", "_blank", 0, {}), UNO_QUERY_THROW);
            }));
        });
        if (document.wait_for(std::chrono::seconds(45)) == std::future_status::ready) {
            loader.join();
            return document.get();
        }
        qWarning("the office hung making a document: it is restarted");
        kill(); // the hung call fails with the office
        loader.join();
        m_connection.reset();
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(15000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        // A killed office leaves its profile locked, which a visible one would
        // ask about.
        QFile::remove(m_dir.filePath(QStringLiteral("profile/.lock")));
        QString reason;
        if (!start(&reason, m_withDisplay)) {
            qWarning("the office did not start again: %s", qPrintable(reason));
            return {};
        }
    }
    return {};
}

void OfficeFixture::closeDocument(const Reference<frame::XFrame>& frame)
{
    office::guarded("closing a test document", [&] {
        Reference<util::XCloseable> closeable(model(frame), UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
    });
}

QList<QPair<int, int>> OfficeFixture::drawnMarks(const QString& text) const
{
    QList<QPair<int, int>> marks;
    if (!m_connection || !m_connection->isAlive())
        return marks;
    office::guarded("asking the marks extension", [&] {
        const Reference<uno::XComponentContext> context = m_connection->context();
        Reference<linguistic2::XProofreader> layer(
            context->getServiceManager()->createInstanceWithContext("org.quillet.MarkLayer", context), UNO_QUERY);
        if (!layer.is())
            return;
        const linguistic2::ProofreadingResult result =
            layer->doProofreading("test", office::toOUString(text), lang::Locale("zh", "CN", {}), 0, text.size(), {});
        for (const linguistic2::SingleProofreadingError& error : result.aErrors)
            marks.append({error.nErrorStart, error.nErrorLength});
    });
    return marks;
}
