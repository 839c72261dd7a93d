#include "WriterDocument.h"
#include "UnoSupport.h"
#include "WriterRange.h"
#include "WriterMarks.h"
#include "WriterText.h"

#include <com/sun/star/document/XUndoManagerSupplier.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <osl/file.hxx>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

WriterDocument::WriterDocument(std::shared_ptr<WriterText> text)
    : m_text(std::move(text))
{
}

std::shared_ptr<automation::Range> WriterDocument::content()
{
    if (!m_text->isAlive())
        return nullptr;
    return WriterRange::create(m_text, 0, m_text->text().size());
}

std::shared_ptr<automation::Range> WriterDocument::range(int start, int end)
{
    if (!m_text->isAlive())
        return nullptr;
    return WriterRange::create(m_text, start, end);
}

QString WriterDocument::fullName()
{
    if (!m_text->isAlive())
        return {};
    return office::guarded<QString>("reading the document's name", {}, [&] {
        const rtl::OUString url = m_text->model()->getURL();
        if (!url.isEmpty()) {
            rtl::OUString path;
            if (osl::FileBase::getSystemPathFromFileURL(url, path) == osl::FileBase::E_None)
                return office::toQString(path);
            return office::toQString(url);
        }
        // An unsaved document is known by its title ("Untitled 1").
        Reference<frame::XTitle> title(m_text->model(), UNO_QUERY);
        return title.is() ? office::toQString(title->getTitle()) : QString();
    });
}

Reference<document::XUndoManager> WriterDocument::undoManager()
{
    if (!m_undoManager.is() && m_text->isAlive()) {
        m_undoManager = office::guarded<Reference<document::XUndoManager>>("reading the undo manager", {}, [&] {
            return Reference<document::XUndoManagerSupplier>(m_text->model(), UNO_QUERY_THROW)->getUndoManager();
        });
    }
    return m_undoManager;
}

void WriterDocument::enterUndoContext(const QString& title)
{
    // A context groups our changes into one step; the manager is never
    // locked (a locked manager makes the user's next Undo do nothing).
    m_text->beginChange();
    if (auto manager = undoManager(); manager.is() && m_text->isAlive())
        office::guarded("opening an undo step", [&] { manager->enterUndoContext(office::toOUString(title)); });
}

void WriterDocument::leaveUndoContext()
{
    if (auto manager = undoManager(); manager.is() && m_text->isAlive())
        office::guarded("closing an undo step", [&] { manager->leaveUndoContext(); });
    m_text->endChange();
}

bool WriterDocument::isModified()
{
    if (!m_text->isAlive())
        return false;
    return office::guarded("reading the modified flag", false, [&] {
        return bool(Reference<util::XModifiable>(m_text->model(), UNO_QUERY_THROW)->isModified());
    });
}

void WriterDocument::setModified(bool modified)
{
    if (!m_text->isAlive())
        return;
    office::guarded("setting the modified flag",
                    [&] { Reference<util::XModifiable>(m_text->model(), UNO_QUERY_THROW)->setModified(modified); });
}

automation::MarkDisplay WriterDocument::markDisplay()
{
    return m_text->marks().display();
}
