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
//                               "autoGrammar", as a sequence of PropertyValue)
//   vnd.quillet.marks:set     Document (the model), Owner (an object of the
//                             caller's), Ranges (sequence of XTextRange, text
//                             cursors that the caller made in that document),
//                             Texts (the text each range stands for)
//                             → replaces the caller's marks in the document and
//                               has Writer check the paragraphs that changed.
// A range is drawn while its text is the text it stands for (or begins with
// it: text typed right after a mark is not marked). When the connection of an
// owner goes away, its marks go too, so a crash of Revisor leaves nothing drawn.

#include <com/sun/star/awt/FontUnderline.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/frame/XSynchronousDispatch.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceDisplayName.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/lang/XSingleComponentFactory.hpp>
#include <com/sun/star/linguistic2/LinguServiceEvent.hpp>
#include <com/sun/star/linguistic2/LinguServiceEventFlags.hpp>
#include <com/sun/star/linguistic2/ProofreadingIterator.hpp>
#include <com/sun/star/linguistic2/XLinguServiceEventBroadcaster.hpp>
#include <com/sun/star/linguistic2/XProofreader.hpp>
#include <com/sun/star/linguistic2/XProofreadingIterator.hpp>
#include <com/sun/star/text/TextMarkupType.hpp>
#include <com/sun/star/text/XFlatParagraph.hpp>
#include <com/sun/star/text/XFlatParagraphIterator.hpp>
#include <com/sun/star/text/XFlatParagraphIteratorProvider.hpp>
#include <com/sun/star/text/XParagraphCursor.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/URL.hpp>
#include <cppuhelper/factory.hxx>
#include <cppuhelper/implbase6.hxx>
#include <cppuhelper/implementationentry.hxx>
#include <cppuhelper/supportsservice.hxx>
#include <cppuhelper/weak.hxx>
#include <rtl/ref.hxx>
#include <uno/lbnames.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

using namespace css;
using rtl::OUString;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

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
constexpr char kVersion[] = "1";
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
        Reference<text::XParagraphCursor> start(text->createTextCursorByRange(mark.range->getStart()),
                                                UNO_QUERY_THROW);
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

OUString paragraphOf(const Reference<text::XTextRange>& range)
{
    try {
        const Reference<text::XText> text = range->getText();
        Reference<text::XParagraphCursor> cursor(text->createTextCursorByRange(range->getStart()), UNO_QUERY_THROW);
        cursor->gotoStartOfParagraph(false);
        cursor->gotoEndOfParagraph(true);
        return cursor->getString();
    } catch (const uno::Exception&) {
        return {};
    }
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
            locales.getArray()[i] = lang::Locale(OUString::createFromAscii(kLocales[i][0]),
                                                 OUString::createFromAscii(kLocales[i][1]), {});
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
            const Placed placed = place(mark);
            if (placed.length <= 0 || placed.paragraph != text || placed.offset < start ||
                placed.offset + placed.length > text.getLength() ||
                !seen.insert({placed.offset, placed.length}).second)
                continue;
            linguistic2::SingleProofreadingError error;
            error.nErrorStart = placed.offset;
            error.nErrorLength = placed.length;
            error.nErrorType = text::TextMarkupType::PROOFREADING;
            error.aRuleIdentifier = "quillet";
            error.aProperties = sequence(std::vector<beans::PropertyValue>{
                property("LineColor", Any(kLineColor)),
                property("LineType", Any(sal_Int16(awt::FontUnderline::BOLDWAVE)))});
            errors.push_back(error);
        }
        std::sort(errors.begin(), errors.end(),
                  [](const auto& a, const auto& b) { return a.nErrorStart < b.nErrorStart; });
        result.aErrors = Sequence<linguistic2::SingleProofreadingError>(errors.data(), sal_Int32(errors.size()));
        return result;
    }

    void SAL_CALL ignoreRule(const OUString&, const lang::Locale&) override {}
    void SAL_CALL resetIgnoreRules() override {}

    // --- XLinguServiceEventBroadcaster (the office listens; we never need to tell it) ---
    sal_Bool SAL_CALL addLinguServiceEventListener(const Reference<linguistic2::XLinguServiceEventListener>&) override
    {
        return true;
    }
    sal_Bool SAL_CALL
    removeLinguServiceEventListener(const Reference<linguistic2::XLinguServiceEventListener>&) override
    {
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
                property("autoGrammar", Any(grammar))}));
        }
        if (url.Complete == "vnd.quillet.marks:set")
            return Any(setMarks(arguments));
        return {};
    }

    // --- XServiceInfo, XServiceDisplayName ---
    OUString SAL_CALL getImplementationName() override { return OUString::createFromAscii(kImplementationName); }
    sal_Bool SAL_CALL supportsService(const OUString& name) override { return cppu::supportsService(this, name); }
    Sequence<OUString> SAL_CALL getSupportedServiceNames() override
    {
        return serviceNames();
    }
    OUString SAL_CALL getServiceDisplayName(const lang::Locale&) override { return "Quillet"; }

    // --- XEventListener: a connection (bridge) went away ---
    void SAL_CALL disposing(const lang::EventObject&) override { dropDeadOwners(); }

private:
    bool setMarks(const Sequence<beans::PropertyValue>& arguments)
    {
        MarkSet set;
        Sequence<Reference<text::XTextRange>> ranges;
        Sequence<OUString> texts;
        for (const beans::PropertyValue& argument : arguments) {
            if (argument.Name == "Document")
                argument.Value >>= set.document;
            else if (argument.Name == "Owner")
                argument.Value >>= set.owner;
            else if (argument.Name == "Ranges")
                argument.Value >>= ranges;
            else if (argument.Name == "Texts")
                argument.Value >>= texts;
        }
        if (!set.document.is() || !set.owner.is() || ranges.getLength() != texts.getLength())
            return false;
        for (sal_Int32 i = 0; i < ranges.getLength(); ++i) {
            if (ranges[i].is() && !texts[i].isEmpty())
                set.marks.push_back(Mark{ranges[i], texts[i]});
        }
        watchBridges();

        std::vector<Mark> before;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto it = m_sets.begin(); it != m_sets.end();) {
                if (it->owner == set.owner && it->document == set.document) {
                    before.insert(before.end(), it->marks.begin(), it->marks.end());
                    it = m_sets.erase(it);
                } else {
                    ++it;
                }
            }
            m_sets.push_back(set);
        }
        recheck(set.document, before, set.marks);
        return true;
    }

    // Has Writer check again the paragraphs that held or hold a mark.
    void recheck(const Reference<uno::XInterface>& document, const std::vector<Mark>& before,
                 const std::vector<Mark>& after)
    {
        std::set<OUString> paragraphs;
        for (const std::vector<Mark>* marks : {&before, &after}) {
            for (const Mark& mark : *marks)
                paragraphs.insert(paragraphOf(mark.range));
        }
        if (paragraphs.empty())
            return;
        try {
            Reference<text::XFlatParagraphIteratorProvider> provider(document, UNO_QUERY_THROW);
            Reference<text::XFlatParagraphIterator> iterator =
                provider->getFlatParagraphIterator(text::TextMarkupType::PROOFREADING, false);
            bool any = false;
            for (Reference<text::XFlatParagraph> paragraph = iterator->getFirstPara(); paragraph.is();
                 paragraph = iterator->getNextPara()) {
                if (paragraphs.count(paragraph->getText())) {
                    paragraph->setChecked(text::TextMarkupType::PROOFREADING, false);
                    any = true;
                }
            }
            if (any)
                linguistic2::ProofreadingIterator::create(m_context)->startProofreading(document, provider);
        } catch (const uno::Exception&) {
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
            recheck(set.document, set.marks, {});
        }
        watchBridges();
    }

    Reference<uno::XComponentContext> m_context;
    std::mutex m_mutex;
    std::vector<MarkSet> m_sets;
    std::set<void*> m_watched;
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
