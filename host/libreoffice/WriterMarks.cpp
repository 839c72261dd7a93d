#include "WriterMarks.h"
#include "OfficeConnection.h"
#include "UnoSupport.h"
#include "WriterFont.h"
#include "WriterText.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/document/XUndoManager.hpp>
#include <com/sun/star/document/XUndoManagerSupplier.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/URL.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XPropertyReplace.hpp>
#include <com/sun/star/util/XReplaceDescriptor.hpp>
#include <com/sun/star/util/XReplaceable.hpp>
#include <cppuhelper/implbase1.hxx>

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>

using namespace css;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

const char kLayerName[] = "org.quillet.MarkLayer";

// Stands for this program at the extension: when its connection goes, the
// extension can no longer reach it and drops its marks.
class MarkOwner : public cppu::WeakImplHelper1<lang::XServiceInfo>
{
public:
    rtl::OUString SAL_CALL getImplementationName() override { return "org.quillet.Revisor"; }
    sal_Bool SAL_CALL supportsService(const rtl::OUString&) override { return false; }
    Sequence<rtl::OUString> SAL_CALL getSupportedServiceNames() override { return {}; }
};

beans::PropertyValue property(const char* name, const Any& value)
{
    return beans::PropertyValue(rtl::OUString::createFromAscii(name), -1, value, beans::PropertyState_DIRECT_VALUE);
}

util::URL command(const char* name)
{
    util::URL url;
    url.Complete = rtl::OUString::createFromAscii(name);
    return url;
}

} // namespace

WriterMarks::WriterMarks(WriterText& text)
    : m_text(text)
    , m_owner(static_cast<cppu::OWeakObject*>(new MarkOwner()))
    , m_context(std::make_unique<QObject>())
{
}

WriterMarks::~WriterMarks()
{
    // Marks of a document we let go of are taken off at once, also those
    // taken off in this turn and not sent yet; only from the thread the marks
    // live on (the office is not called from any other).
    if ((!m_stretches.empty() || !m_published) && m_text.isAlive() && QThread::currentThread() == m_context->thread()) {
        m_stretches.clear();
        m_recheck = true;
        publish();
    }
}

Reference<frame::XSynchronousDispatch> WriterMarks::layer()
{
    if (m_layerLooked || !m_text.isAlive())
        return m_layer;
    m_layerLooked = true;
    m_layer = office::guarded<Reference<frame::XSynchronousDispatch>>("reaching the marks extension", {}, [&] {
        const Reference<uno::XComponentContext> context = m_text.connection()->context();
        return Reference<frame::XSynchronousDispatch>(
            context->getServiceManager()->createInstanceWithContext(kLayerName, context), UNO_QUERY);
    });
    if (!m_layer.is())
        qCInfo(lcOffice) << "the office has no Quillet marks extension: the marks cannot be shown";
    return m_layer;
}

automation::MarkDisplay WriterMarks::display()
{
    const Reference<frame::XSynchronousDispatch> marks = layer();
    if (!marks.is())
        return automation::MarkDisplay::NotInstalled;
    bool spell = true;
    bool grammar = true;
    office::guarded("asking the marks extension", [&] {
        Sequence<beans::PropertyValue> answer;
        marks->dispatchWithReturnValue(command("vnd.quillet.marks:hello"), {}) >>= answer;
        for (const beans::PropertyValue& value : answer) {
            if (value.Name == "autoSpell")
                value.Value >>= spell;
            else if (value.Name == "autoGrammar")
                value.Value >>= grammar;
        }
    });
    if (!spell)
        return automation::MarkDisplay::AutoSpellOff;
    if (!grammar)
        return automation::MarkDisplay::AutoGrammarOff;
    return automation::MarkDisplay::Shown;
}

WriterMarks::Page WriterMarks::pageAt(const Reference<frame::XController>& controller,
                                      const Reference<text::XTextRange>& at)
{
    return askPage(controller, "At", Any(at));
}

WriterMarks::Page WriterMarks::pageNumber(const Reference<frame::XController>& controller, int n)
{
    return askPage(controller, "Page", Any(sal_Int32(n)));
}

WriterMarks::Page WriterMarks::askPage(const Reference<frame::XController>& controller, const char* name,
                                       const Any& value)
{
    Page page;
    const Reference<frame::XSynchronousDispatch> extension = layer();
    if (!extension.is() || !controller.is() || m_pagesUnsupported)
        return page;
    const beans::PropertyValue values[] = {property("Controller", Any(controller)), property(name, value)};
    Any answer;
    if (!office::guarded<bool>("reading a page in the office", false, [&] {
            answer = extension->dispatchWithReturnValue(command("vnd.quillet.marks:page"),
                                                        Sequence<beans::PropertyValue>(values, 2));
            return true;
        }))
        return Page{true, 0, {}, {}};
    Sequence<beans::PropertyValue> properties;
    if (!(answer >>= properties)) {
        // An extension older than this program does not know the question.
        m_pagesUnsupported = true;
        qCInfo(lcOffice) << "the office's Quillet extension is older than this program: pages are read from here";
        return page;
    }
    page.supported = true;
    for (const beans::PropertyValue& property : properties) {
        sal_Int32 number = 0;
        if (property.Name == "Page" && (property.Value >>= number))
            page.page = number;
        else if (property.Name == "First")
            property.Value >>= page.first;
        else if (property.Name == "Last")
            property.Value >>= page.last;
    }
    if (!page.first.is() || !page.last.is())
        page.page = 0;
    return page;
}

void WriterMarks::follow()
{
    const QString now = m_text.text();
    if (now == m_seen)
        return;
    const QString before = m_seen;
    m_seen = now;
    if (m_stretches.empty())
        return;

    // The edit as one changed stretch: [prefix, before.size() - suffix) of the
    // old text became [prefix, now.size() - suffix) of the new.
    const int shorter = std::min(before.size(), now.size());
    int prefix = 0;
    while (prefix < shorter && before[prefix] == now[prefix])
        ++prefix;
    int suffix = 0;
    while (suffix < shorter - prefix && before[before.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    const int oldEnd = before.size() - suffix;
    const int delta = now.size() - before.size();

    std::vector<Stretch> followed;
    bool changed = false;
    for (Stretch& stretch : m_stretches) {
        if (stretch.end <= prefix) {
            followed.push_back(std::move(stretch));
            continue;
        }
        if (stretch.start >= oldEnd) {
            stretch.start += delta;
            stretch.end += delta;
            followed.push_back(std::move(stretch));
            continue;
        }
        // The edit touched the stretch: its characters before and after the
        // changed text stay marked, the changed ones do not.
        changed = true;
        if (stretch.start < prefix)
            followed.push_back(Stretch{stretch.start, prefix, now.mid(stretch.start, prefix - stretch.start), {}});
        if (stretch.end > oldEnd)
            followed.push_back(
                Stretch{oldEnd + delta, stretch.end + delta, now.mid(oldEnd + delta, stretch.end - oldEnd), {}});
    }
    m_stretches = std::move(followed);
    if (changed) {
        for (Stretch& stretch : m_stretches) {
            if (!stretch.cursor.is())
                makeCursor(stretch);
        }
        schedulePublish(false);
    }
}

bool WriterMarks::covers(int start, int end)
{
    follow();
    if (start >= end) {
        if (start <= 0)
            return false;
        start -= 1;
        end = start + 1;
    }
    // Each character must lie in some stretch.
    for (int at = start; at < end;) {
        int reach = at;
        for (const Stretch& stretch : m_stretches) {
            if (stretch.start <= at && stretch.end > reach)
                reach = stretch.end;
        }
        if (reach <= at)
            return false;
        at = reach;
    }
    return true;
}

std::vector<std::pair<int, int>> WriterMarks::stretches()
{
    follow();
    std::vector<std::pair<int, int>> result;
    for (const Stretch& stretch : m_stretches)
        result.emplace_back(stretch.start, stretch.end);
    std::sort(result.begin(), result.end());
    return result;
}

void WriterMarks::set(int start, int end, bool marked, const Reference<text::XTextCursor>& cursor)
{
    follow();
    if (end <= start)
        return;
    if (marked)
        add(start, end, cursor);
    else
        remove(start, end);
}

void WriterMarks::add(int start, int end, const Reference<text::XTextCursor>& cursor)
{
    if (covers(start, end))
        return;
    Stretch stretch{start, end, m_seen.mid(start, end - start), cursor};
    if (!stretch.cursor.is() && !makeCursor(stretch))
        return;
    m_stretches.push_back(std::move(stretch));
    schedulePublish();
}

void WriterMarks::remove(int start, int end)
{
    std::vector<Stretch> kept;
    bool changed = false;
    for (Stretch& stretch : m_stretches) {
        if (stretch.end <= start || stretch.start >= end) {
            kept.push_back(std::move(stretch));
            continue;
        }
        changed = true;
        if (stretch.start < start) {
            Stretch left{stretch.start, start, m_seen.mid(stretch.start, start - stretch.start), {}};
            if (makeCursor(left))
                kept.push_back(std::move(left));
        }
        if (stretch.end > end) {
            Stretch right{end, stretch.end, m_seen.mid(end, stretch.end - end), {}};
            if (makeCursor(right))
                kept.push_back(std::move(right));
        }
    }
    m_stretches = std::move(kept);
    if (changed)
        schedulePublish();
}

void WriterMarks::clear()
{
    if (m_stretches.empty())
        return;
    m_stretches.clear();
    schedulePublish();
}

bool WriterMarks::makeCursor(Stretch& stretch)
{
    stretch.cursor = m_text.cursorFor(stretch.start, stretch.end);
    return stretch.cursor.is();
}

void WriterMarks::schedulePublish(bool recheck)
{
    m_published = false;
    m_recheck = m_recheck || recheck;
    if (m_publishPosted)
        return;
    m_publishPosted = true;
    QMetaObject::invokeMethod(
        m_context.get(),
        [this] {
            m_publishPosted = false;
            publish();
        },
        Qt::QueuedConnection);
}

void WriterMarks::publish()
{
    m_published = true;
    const Reference<frame::XSynchronousDispatch> marks = layer();
    if (!marks.is())
        return;
    qCDebug(lcOffice) << "showing" << m_stretches.size() << "marks";
    Sequence<Reference<text::XTextRange>> ranges(static_cast<sal_Int32>(m_stretches.size()));
    Sequence<rtl::OUString> texts(static_cast<sal_Int32>(m_stretches.size()));
    for (size_t i = 0; i < m_stretches.size(); ++i) {
        ranges.getArray()[i] = Reference<text::XTextRange>(m_stretches[i].cursor, UNO_QUERY);
        texts.getArray()[i] = office::toOUString(m_stretches[i].text);
    }
    const beans::PropertyValue values[] = {property("Document", Any(m_text.model())), property("Owner", Any(m_owner)),
                                           property("Ranges", Any(ranges)), property("Texts", Any(texts)),
                                           property("Recheck", Any(m_recheck))};
    m_recheck = false;
    const Sequence<beans::PropertyValue> arguments(values, 5);
    office::guarded("sending the marks to the office",
                    [&] { marks->dispatchWithReturnValue(command("vnd.quillet.marks:set"), arguments); });
}

void WriterMarks::removeFormattingMarks()
{
    if (!m_text.isAlive())
        return;
    office::guarded("removing marks written by an older Quillet", [&] {
        const automation::Font plain = automation::PlainFont;
        Reference<util::XReplaceable> replaceable(m_text.model(), UNO_QUERY_THROW);
        Reference<util::XReplaceDescriptor> descriptor = replaceable->createReplaceDescriptor();
        descriptor->setSearchString({});
        descriptor->setReplaceString({});
        Reference<util::XPropertyReplace> attributes(descriptor, UNO_QUERY_THROW);
        attributes->setValueSearch(true);
        attributes->setSearchAttributes(office::fontProperties(automation::MarkFont));
        attributes->setReplaceAttributes(office::fontProperties(plain));
        const Reference<util::XSearchDescriptor> search(descriptor, UNO_QUERY_THROW);
        if (!replaceable->findFirst(search).is())
            return;
        Reference<util::XModifiable> modifiable(m_text.model(), UNO_QUERY);
        const bool wasModified = modifiable.is() && modifiable->isModified();
        Reference<document::XUndoManager> undo =
            Reference<document::XUndoManagerSupplier>(m_text.model(), UNO_QUERY_THROW)->getUndoManager();
        undo->enterUndoContext("Remove old proofreading marks");
        replaceable->replaceAll(search);
        undo->leaveUndoContext();
        if (modifiable.is() && !wasModified)
            modifiable->setModified(false);
        m_text.formattingChanged();
        qCInfo(lcOffice) << "removed proofreading marks left as formatting by an older version";
    });
}
