// Quillet's proofreading marks inside LibreOffice.
//
// This component runs in the office. It is registered as the proofreader for
// Chinese, so Writer asks it, paragraph by paragraph, which proofreading
// errors to draw; it answers with the marks that Revisor (in its own process,
// over the UNO connection) has set in that paragraph. Writer draws such marks
// apart from the document: they never reach a file, a print, the clipboard or
// the undo history, and they follow the text as the user types.
//
// Revisor talks to it through XSynchronousDispatch (no type library of our
// own is needed on either side):
//   vnd.quillet.marks:hello   → the component's version and whether the office
//                               shows proofreading marks ("version", "autoSpell",
//                               "autoGrammar", as a sequence of PropertyValue),
//                               and how many marks it has reported to the
//                               office so far ("reported", for measurements)
//   vnd.quillet.marks:set     Document (the model), Owner (an object of the
//                             caller's), Ranges (sequence of XTextRange, text
//                             cursors that the caller made in that document),
//                             Texts (the text each range stands for), Recheck
//                             (optional, default true)
//                             → replaces the caller's marks in the document and
//                               has the office proofread again, which draws
//                               them (Recheck false: the office checks the
//                               paragraph the user edited by itself).
//   vnd.quillet.marks:page    Controller (a Writer document's controller), and
//                             At (an XTextRange) or Page (a page number; -1 for
//                             the last page, a page past the end gives the last)
//                             → Page (the page that shows At, or that was gone
//                               to; 0 when it could not be read), First and Last
//                               (text ranges at that page's first and last
//                               position).
// A range is drawn while its text is the text it stands for (or begins with
// it: text typed right after a mark is not marked). When the connection of an
// owner goes away, its marks go too, so a crash of Revisor leaves nothing drawn.
//
// Writer knows pages only in its view: reading one means moving the view
// cursor there and back. Done call by call from another process, a key
// pressed meanwhile is inserted where the cursor stands then, on another page.
// Here the whole move runs on the office's own thread between two of its
// events, where no key press can come in between.

#include <com/sun/star/awt/AsyncCallback.hpp>
#include <com/sun/star/awt/FontUnderline.hpp>
#include <com/sun/star/awt/XCallback.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XSynchronousDispatch.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceDisplayName.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/lang/XSingleComponentFactory.hpp>
#include <com/sun/star/linguistic2/LinguServiceEvent.hpp>
#include <com/sun/star/linguistic2/LinguServiceEventFlags.hpp>
#include <com/sun/star/linguistic2/XLinguServiceEventBroadcaster.hpp>
#include <com/sun/star/linguistic2/XProofreader.hpp>
#include <com/sun/star/text/TextMarkupType.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XParagraphCursor.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/URL.hpp>
#include <cppuhelper/factory.hxx>
#include <cppuhelper/implbase1.hxx>
#include <cppuhelper/implbase6.hxx>
#include <cppuhelper/implementationentry.hxx>
#include <cppuhelper/supportsservice.hxx>
#include <cppuhelper/weak.hxx>
#include <rtl/ref.hxx>
#include <uno/lbnames.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

using namespace css;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace {

template <typename T>
Sequence<T> sequence(const std::vector<T>& items)
{
    return Sequence<T>(items.data(), sal_Int32(items.size()));
}

beans::PropertyValue property(const char* name, const Any& value)
{
    return beans::PropertyValue(OUString::createFromAscii(name), -1, value, beans::PropertyState_DIRECT_VALUE);
}

constexpr char kImplementationName[] = "org.quillet.MarkLayer";
constexpr char kServiceName[] = "com.sun.star.linguistic2.Proofreader";
constexpr char kVersion[] = "2";
// How long a caller waits for the office's thread to read a page.
constexpr std::chrono::seconds kPageWait(3);
// The mark's look: a bold wave in red 240, green 1, blue 0.
constexpr sal_Int32 kLineColor = 0xF00100;

const char* const kLocales[][2] = {{"zh", "CN"}, {"zh", "TW"}, {"zh", "HK"}, {"zh", "SG"}};

Sequence<OUString> SAL_CALL serviceNames();

struct Mark
{
    Reference<text::XTextRange> range;
    OUString text;
};

// The marks one caller set in one document.
struct MarkSet
{
    Reference<uno::XInterface> owner;
    Reference<uno::XInterface> document;
    std::vector<Mark> marks;
};

// Where a mark stands now: its paragraph's text and its offset there; the
// length is 0 when the mark is not to be drawn.
struct Placed
{
    OUString paragraph;
    sal_Int32 offset = 0;
    sal_Int32 length = 0;
};

Placed place(const Mark& mark)
{
    Placed placed;
    try {
        const Reference<text::XText> text = mark.range->getText();
        const OUString now = mark.range->getString();
        if (mark.text.isEmpty() || !now.startsWith(mark.text))
            return placed;
        Reference<text::XParagraphCursor> start(text->createTextCursorByRange(mark.range->getStart()), UNO_QUERY_THROW);
        start->gotoStartOfParagraph(false);
        Reference<text::XTextCursor> before = text->createTextCursorByRange(start->getStart());
        before->gotoRange(mark.range->getStart(), true);
        Reference<text::XParagraphCursor> whole(text->createTextCursorByRange(start->getStart()), UNO_QUERY_THROW);
        whole->gotoEndOfParagraph(true);
        placed.paragraph = whole->getString();
        placed.offset = before->getString().getLength();
        placed.length = mark.text.getLength();
    } catch (const uno::Exception&) {
        placed.length = 0;
    }
    return placed;
}

bool configFlag(const Reference<uno::XComponentContext>& context, const OUString& path, const OUString& name)
{
    try {
        const Reference<lang::XMultiServiceFactory> provider = configuration::theDefaultProvider::get(context);
        beans::NamedValue node{"nodepath", Any(path)};
        const Reference<container::XNameAccess> access(
            provider->createInstanceWithArguments("com.sun.star.configuration.ConfigurationAccess",
                                                  sequence(std::vector<Any>{Any(node)})),
            UNO_QUERY_THROW);
        bool value = true;
        access->getByName(name) >>= value;
        return value;
    } catch (const uno::Exception&) {
        return true;
    }
}

// One page read on the office's own thread (see the top of this file). The
// caller waits for the answer; a question not answered in time is abandoned
// and then does nothing when its turn comes.
class PageQuestion : public cppu::WeakImplHelper1<awt::XCallback>
{
public:
    PageQuestion(Reference<frame::XController> controller, Reference<text::XTextRange> at, sal_Int32 page)
        : m_controller(std::move(controller))
        , m_at(std::move(at))
        , m_page(page)
    {
    }

    // On the office's thread.
    void SAL_CALL notify(const Any&) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_abandoned)
                return;
        }
        sal_Int32 page = 0;
        Reference<text::XTextRange> first, last;
        try {
            read(page, first, last);
        } catch (const uno::Exception&) {
            page = 0;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answer = sequence(std::vector<beans::PropertyValue>{
            property("Page", Any(page)), property("First", Any(first)), property("Last", Any(last))});
        m_done = true;
        m_answered.notify_all();
    }

    // The answer, or Page 0 when the office's thread did not come to it in time.
    Sequence<beans::PropertyValue> wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_answered.wait_for(lock, kPageWait, [&] { return m_done; })) {
            m_abandoned = true;
            return sequence(std::vector<beans::PropertyValue>{property("Page", Any(sal_Int32(0)))});
        }
        return m_answer;
    }

private:
    void read(sal_Int32& page, Reference<text::XTextRange>& first, Reference<text::XTextRange>& last)
    {
        const Reference<text::XTextViewCursor> cursor =
            Reference<text::XTextViewCursorSupplier>(m_controller, UNO_QUERY_THROW)->getViewCursor();
        Reference<text::XPageCursor> pages(cursor, UNO_QUERY_THROW);
        const Reference<frame::XModel> model = m_controller->getModel();
        const Reference<text::XTextRange> start = cursor->getStart();
        const Reference<text::XTextRange> end = cursor->getEnd();
        // The view neither scrolls to the page nor is drawn meanwhile.
        if (model.is())
            model->lockControllers();
        try {
            if (m_at.is())
                cursor->gotoRange(m_at, false);
            else if (m_page < 1 || !pages->jumpToPage(sal_Int16(std::min<sal_Int32>(m_page, SAL_MAX_INT16))))
                pages->jumpToLastPage();
            page = pages->getPage();
            pages->jumpToStartOfPage();
            first = cursor->getStart();
            pages->jumpToEndOfPage();
            last = cursor->getStart();
        } catch (const uno::Exception&) {
            page = 0;
        }
        try {
            cursor->gotoRange(start, false);
            cursor->gotoRange(end, true);
        } catch (const uno::Exception&) {
        }
        if (model.is())
            model->unlockControllers();
    }

    const Reference<frame::XController> m_controller;
    const Reference<text::XTextRange> m_at;
    const sal_Int32 m_page;
    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_done = false;
    bool m_abandoned = false;
    Sequence<beans::PropertyValue> m_answer;
};

class MarkLayer : public cppu::WeakImplHelper6<linguistic2::XProofreader, linguistic2::XLinguServiceEventBroadcaster,
                                               frame::XSynchronousDispatch, lang::XServiceInfo,
                                               lang::XServiceDisplayName, lang::XEventListener>
{
public:
    explicit MarkLayer(Reference<uno::XComponentContext> context)
        : m_context(std::move(context))
    {
    }

    // --- XSupportedLocales ---
    Sequence<lang::Locale> SAL_CALL getLocales() override
    {
        Sequence<lang::Locale> locales(SAL_N_ELEMENTS(kLocales));
        for (size_t i = 0; i < SAL_N_ELEMENTS(kLocales); ++i)
            locales.getArray()[i] =
                lang::Locale(OUString::createFromAscii(kLocales[i][0]), OUString::createFromAscii(kLocales[i][1]), {});
        return locales;
    }
    sal_Bool SAL_CALL hasLocale(const lang::Locale& locale) override
    {
        for (const auto& [language, country] : kLocales) {
            if (locale.Language.equalsAscii(language) && locale.Country.equalsAscii(country))
                return true;
        }
        return false;
    }

    // --- XProofreader ---
    sal_Bool SAL_CALL isSpellChecker() override { return false; }

    linguistic2::ProofreadingResult SAL_CALL doProofreading(const OUString& documentId, const OUString& text,
                                                            const lang::Locale& locale, sal_Int32 start,
                                                            sal_Int32 /*suggestedEnd*/,
                                                            const Sequence<beans::PropertyValue>&) override
    {
        linguistic2::ProofreadingResult result;
        result.aDocumentIdentifier = documentId;
        result.aText = text;
        result.aLocale = locale;
        result.nStartOfSentencePosition = start;
        // The whole rest of the paragraph is answered at once.
        result.nBehindEndOfSentencePosition = text.getLength();
        result.nStartOfNextSentencePosition = text.getLength();
        result.xProofreader = this;

        std::vector<Mark> marks;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const MarkSet& set : m_sets)
                marks.insert(marks.end(), set.marks.begin(), set.marks.end());
        }
        std::vector<linguistic2::SingleProofreadingError> errors;
        std::set<std::pair<sal_Int32, sal_Int32>> seen;
        for (const Mark& mark : marks) {
            // Most marks lie in other paragraphs: only those whose text occurs
            // here are placed (which asks the office where they stand).
            if (text.indexOf(mark.text) < 0)
                continue;
            const Placed placed = place(mark);
            if (placed.length <= 0 || placed.paragraph != text || placed.offset < start ||
                placed.offset + placed.length > text.getLength() || !seen.insert({placed.offset, placed.length}).second)
                continue;
            linguistic2::SingleProofreadingError error;
            error.nErrorStart = placed.offset;
            error.nErrorLength = placed.length;
            error.nErrorType = text::TextMarkupType::PROOFREADING;
            error.aRuleIdentifier = "quillet";
            error.aProperties = sequence(
                std::vector<beans::PropertyValue>{property("LineColor", Any(kLineColor)),
                                                  property("LineType", Any(sal_Int16(awt::FontUnderline::BOLDWAVE)))});
            errors.push_back(error);
        }
        std::sort(errors.begin(), errors.end(),
                  [](const auto& a, const auto& b) { return a.nErrorStart < b.nErrorStart; });
        m_reported += sal_Int32(errors.size());
        result.aErrors = Sequence<linguistic2::SingleProofreadingError>(errors.data(), sal_Int32(errors.size()));
        return result;
    }

    void SAL_CALL ignoreRule(const OUString&, const lang::Locale&) override {}
    void SAL_CALL resetIgnoreRules() override {}

    // --- XLinguServiceEventBroadcaster: the office's proofreading listens ---
    sal_Bool SAL_CALL
    addLinguServiceEventListener(const Reference<linguistic2::XLinguServiceEventListener>& listener) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!listener.is() || std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            return false;
        m_listeners.push_back(listener);
        return true;
    }
    sal_Bool SAL_CALL
    removeLinguServiceEventListener(const Reference<linguistic2::XLinguServiceEventListener>& listener) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = std::find(m_listeners.begin(), m_listeners.end(), listener);
        if (it == m_listeners.end())
            return false;
        m_listeners.erase(it);
        return true;
    }

    // --- XSynchronousDispatch ---
    Any SAL_CALL dispatchWithReturnValue(const util::URL& url, const Sequence<beans::PropertyValue>& arguments) override
    {
        if (url.Complete == "vnd.quillet.marks:hello") {
            const bool spell = configFlag(m_context, "/org.openoffice.Office.Linguistic/SpellChecking", "IsSpellAuto");
            const bool grammar =
                configFlag(m_context, "/org.openoffice.Office.Linguistic/GrammarChecking", "IsAutoCheck");
            return Any(sequence(std::vector<beans::PropertyValue>{
                property("version", Any(OUString::createFromAscii(kVersion))), property("autoSpell", Any(spell)),
                property("autoGrammar", Any(grammar)), property("reported", Any(sal_Int32(m_reported)))}));
        }
        if (url.Complete == "vnd.quillet.marks:set")
            return Any(setMarks(arguments));
        if (url.Complete == "vnd.quillet.marks:page")
            return Any(readPage(arguments));
        return {};
    }

    // --- XServiceInfo, XServiceDisplayName ---
    OUString SAL_CALL getImplementationName() override { return OUString::createFromAscii(kImplementationName); }
    sal_Bool SAL_CALL supportsService(const OUString& name) override { return cppu::supportsService(this, name); }
    Sequence<OUString> SAL_CALL getSupportedServiceNames() override { return serviceNames(); }
    OUString SAL_CALL getServiceDisplayName(const lang::Locale&) override { return "Quillet"; }

    // --- XEventListener: a connection (bridge) went away ---
    void SAL_CALL disposing(const lang::EventObject&) override { dropDeadOwners(); }

private:
    Sequence<beans::PropertyValue> readPage(const Sequence<beans::PropertyValue>& arguments)
    {
        Reference<frame::XController> controller;
        Reference<text::XTextRange> at;
        sal_Int32 page = -1;
        for (const beans::PropertyValue& argument : arguments) {
            if (argument.Name == "Controller")
                argument.Value >>= controller;
            else if (argument.Name == "At")
                argument.Value >>= at;
            else if (argument.Name == "Page")
                argument.Value >>= page;
        }
        const rtl::Reference<PageQuestion> question(new PageQuestion(controller, at, page));
        try {
            if (!controller.is())
                throw uno::RuntimeException("no controller");
            awt::AsyncCallback::create(m_context)->addCallback(Reference<awt::XCallback>(question.get()), Any());
        } catch (const uno::Exception&) {
            return sequence(std::vector<beans::PropertyValue>{property("Page", Any(sal_Int32(0)))});
        }
        return question->wait();
    }

    bool setMarks(const Sequence<beans::PropertyValue>& arguments)
    {
        MarkSet set;
        Sequence<Reference<text::XTextRange>> ranges;
        Sequence<OUString> texts;
        // The office checks a paragraph the user has just edited by itself.
        bool recheckWanted = true;
        for (const beans::PropertyValue& argument : arguments) {
            if (argument.Name == "Document")
                argument.Value >>= set.document;
            else if (argument.Name == "Owner")
                argument.Value >>= set.owner;
            else if (argument.Name == "Ranges")
                argument.Value >>= ranges;
            else if (argument.Name == "Texts")
                argument.Value >>= texts;
            else if (argument.Name == "Recheck")
                argument.Value >>= recheckWanted;
        }
        if (!set.document.is() || !set.owner.is() || ranges.getLength() != texts.getLength())
            return false;
        for (sal_Int32 i = 0; i < ranges.getLength(); ++i) {
            if (ranges[i].is() && !texts[i].isEmpty())
                set.marks.push_back(Mark{ranges[i], texts[i]});
        }
        watchBridges();

        bool changed = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto it = m_sets.begin(); it != m_sets.end();) {
                if (it->owner == set.owner && it->document == set.document) {
                    changed = changed || !it->marks.empty();
                    it = m_sets.erase(it);
                } else {
                    ++it;
                }
            }
            changed = changed || !set.marks.empty();
            m_sets.push_back(set);
        }
        if (changed && recheckWanted)
            recheck();
        return true;
    }

    // Has the office check its documents again, so that it draws the marks as
    // they are now. Its proofreading accepts new results only for text it
    // takes for unchecked, and there is no call that makes one paragraph so:
    // the office is told that proofreading must run again, which it does in
    // the background, asking this component paragraph by paragraph.
    void recheck()
    {
        std::vector<Reference<linguistic2::XLinguServiceEventListener>> listeners;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            listeners = m_listeners;
        }
        const linguistic2::LinguServiceEvent event(static_cast<cppu::OWeakObject*>(this),
                                                   linguistic2::LinguServiceEventFlags::PROOFREAD_AGAIN);
        for (const Reference<linguistic2::XLinguServiceEventListener>& listener : listeners) {
            try {
                listener->processLinguServiceEvent(event);
            } catch (const uno::Exception&) {
            }
        }
    }

    // Listens to every remote connection of the office, to learn when one goes.
    void watchBridges()
    {
        try {
            const Reference<bridge::XBridgeFactory2> factory = bridge::BridgeFactory::create(m_context);
            for (const Reference<bridge::XBridge>& bridge : factory->getExistingBridges()) {
                Reference<lang::XComponent> component(bridge, UNO_QUERY);
                std::lock_guard<std::mutex> lock(m_mutex);
                if (component.is() && m_watched.insert(component.get()).second)
                    component->addEventListener(this);
            }
        } catch (const uno::Exception&) {
        }
    }

    // Drops the marks of every owner that no longer answers.
    void dropDeadOwners()
    {
        std::vector<MarkSet> sets;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            sets = m_sets;
            m_watched.clear();
        }
        for (const MarkSet& set : sets) {
            bool alive = true;
            try {
                Reference<lang::XServiceInfo> owner(set.owner, UNO_QUERY);
                alive = owner.is() && !owner->getImplementationName().isEmpty();
            } catch (const uno::Exception&) {
                alive = false;
            }
            if (alive)
                continue;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_sets.erase(std::remove_if(m_sets.begin(), m_sets.end(),
                                            [&](const MarkSet& s) { return s.owner == set.owner; }),
                             m_sets.end());
            }
            recheck();
        }
        watchBridges();
    }

    Reference<uno::XComponentContext> m_context;
    std::mutex m_mutex;
    std::vector<MarkSet> m_sets;
    std::set<void*> m_watched;
    std::vector<Reference<linguistic2::XLinguServiceEventListener>> m_listeners;
    std::atomic<sal_Int32> m_reported{0};
};

// One instance serves the office's linguistic manager and every caller.
Reference<uno::XInterface> SAL_CALL createMarkLayer(const Reference<uno::XComponentContext>& context)
{
    return static_cast<cppu::OWeakObject*>(new MarkLayer(context));
}

Sequence<OUString> SAL_CALL serviceNames()
{
    return sequence(std::vector<OUString>{OUString::createFromAscii(kServiceName)});
}

} // namespace

extern "C" SAL_DLLPUBLIC_EXPORT void* SAL_CALL component_getFactory(const char* implementationName, void*, void*)
{
    if (!implementationName || std::strcmp(implementationName, kImplementationName) != 0)
        return nullptr;
    Reference<lang::XSingleComponentFactory> factory = cppu::createOneInstanceComponentFactory(
        createMarkLayer, OUString::createFromAscii(kImplementationName), serviceNames());
    if (!factory.is())
        return nullptr;
    factory->acquire();
    return factory.get();
}

extern "C" SAL_DLLPUBLIC_EXPORT void SAL_CALL component_getImplementationEnvironment(const char** environmentName,
                                                                                     uno_Environment**)
{
    *environmentName = CPPU_CURRENT_LANGUAGE_BINDING_NAME;
}
