#include "ComAutomation.h"

#include <QLoggingCategory>

#include <oleacc.h>
#include <ocidl.h>

#include <atomic>

Q_LOGGING_CATEGORY(lcCom, "quillet.com")

using namespace automation;
using com::Ref;
using com::Var;

namespace comword {

// {000209FE-0000-0000-C000-000000000046}
const IID DIID_ApplicationEvents2 = {0x000209fe, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

QString toQString(const std::wstring& text)
{
    return QString::fromWCharArray(text.data(), static_cast<int>(text.size()));
}

std::wstring toWString(const QString& text)
{
    return text.toStdWString();
}

namespace {

// The common part of every wrapped object: the object and its session.
class Base
{
public:
    Base(Ref<IDispatch> object, SessionPtr session, const char* kind)
        : m_object(std::move(object))
        , m_session(std::move(session))
        , m_kind(kind)
    {
    }
    IDispatch* dispatch() const { return m_object.Get(); }

protected:
    Var get(const wchar_t* member) { return m_session->get(m_object.Get(), m_kind, member); }
    Var call(const wchar_t* member, std::vector<Var> args)
    {
        return m_session->call(m_object.Get(), m_kind, member, std::move(args));
    }
    bool put(const wchar_t* member, Var value)
    {
        return m_session->put(m_object.Get(), m_kind, member, std::move(value));
    }
    std::optional<int> getInt(const wchar_t* member)
    {
        const std::optional<long> n = get(member).toInt();
        return n ? std::optional<int>(static_cast<int>(*n)) : std::nullopt;
    }

    Ref<IDispatch> m_object;
    SessionPtr m_session;
    const char* m_kind;
};

IDispatch* dispatchOf(const std::shared_ptr<Object>& object);

std::optional<int> asInt(const Var& v)
{
    const std::optional<long> n = v.toInt();
    return n ? std::optional<int>(static_cast<int>(*n)) : std::nullopt;
}

// A Font object of Word's: Underline and UnderlineColor.
std::optional<Font> readFont(com::Session& session, IDispatch* font)
{
    if (!font)
        return std::nullopt;
    const std::optional<long> underline = session.get(font, "Font", L"Underline").toInt();
    if (!underline)
        return std::nullopt;
    const std::optional<long> color = session.get(font, "Font", L"UnderlineColor").toInt();
    if (!color)
        return std::nullopt;
    return Font{static_cast<int>(*underline), static_cast<int>(*color)};
}

void writeFont(com::Session& session, IDispatch* font, const Font& value)
{
    if (!font)
        return;
    if (value.underline != Undefined)
        session.put(font, "Font", L"Underline", Var::fromInt(value.underline));
    if (value.underlineColor != Undefined)
        session.put(font, "Font", L"UnderlineColor", Var::fromInt(value.underlineColor));
}

class ComParagraph;
class ComParagraphs;
class ComFind;

class ComRange : public Range, public Base
{
public:
    ComRange(Ref<IDispatch> object, SessionPtr session)
        : Base(std::move(object), std::move(session), "Range")
    {
    }

    QString text() override
    {
        const std::optional<std::wstring> text = get(L"Text").toString();
        return text ? toQString(*text) : QString();
    }
    void setText(const QString& text) override
    {
        m_font.Reset();
        put(L"Text", Var::fromString(toWString(text)));
    }
    int start() override { return getInt(L"Start").value_or(0); }
    int end() override { return getInt(L"End").value_or(0); }
    void setEnd(int end) override
    {
        m_font.Reset();
        put(L"End", Var::fromInt(end));
    }
    void setRange(int start, int end) override
    {
        m_font.Reset();
        call(L"SetRange", args(Var::fromInt(start), Var::fromInt(end)));
    }

    std::optional<Font> font() override { return readFont(*m_session, fontObject()); }
    void setFont(const Font& font) override { writeFont(*m_session, fontObject(), font); }

    std::shared_ptr<Paragraphs> paragraphs() override;
    std::shared_ptr<Range> goTo(int what, int which, std::optional<int> count) override
    {
        return makeRange(call(L"GoTo", args(Var::fromInt(what), Var::fromInt(which),
                                            count ? Var::fromInt(*count) : Var::missing(), Var::missing()))
                             .toDispatch(),
                         m_session);
    }
    std::shared_ptr<Range> next(int unit, int count) override
    {
        return makeRange(call(L"Next", args(Var::fromInt(unit), Var::fromInt(count))).toDispatch(), m_session);
    }
    std::shared_ptr<Range> previous(int unit, int count) override
    {
        return makeRange(call(L"Previous", args(Var::fromInt(unit), Var::fromInt(count))).toDispatch(), m_session);
    }
    bool inRange(const std::shared_ptr<Range>& other) override
    {
        IDispatch* target = dispatchOf(other);
        if (!target)
            return false;
        return call(L"InRange", args(Var::fromDispatch(target))).toBool().value_or(false);
    }
    void expand(int unit) override
    {
        m_font.Reset();
        call(L"Expand", args(Var::fromInt(unit)));
    }
    std::optional<int> information(int type) override { return asInt(call(L"Information", args(Var::fromInt(type)))); }
    void select() override { call(L"Select", {}); }
    std::shared_ptr<Find> find() override;

private:
    template <typename... T>
    static std::vector<Var> args(T... values)
    {
        std::vector<Var> list;
        (list.push_back(std::move(values)), ...);
        return list;
    }
    // A range's Font object is kept for the range's later font calls, until
    // the range's extent changes.
    IDispatch* fontObject()
    {
        if (!m_font)
            m_font = get(L"Font").toDispatch();
        return m_font.Get();
    }
    Ref<IDispatch> m_font;
};

class ComParagraph : public Paragraph, public Base
{
public:
    ComParagraph(Ref<IDispatch> object, SessionPtr session)
        : Base(std::move(object), std::move(session), "Paragraph")
    {
    }
    std::shared_ptr<Range> range() override { return makeRange(get(L"Range").toDispatch(), m_session); }
};

class ComParagraphs : public Paragraphs, public Base
{
public:
    ComParagraphs(Ref<IDispatch> object, SessionPtr session)
        : Base(std::move(object), std::move(session), "Paragraphs")
    {
    }
    int count() override { return getInt(L"Count").value_or(0); }
    std::shared_ptr<Paragraph> item(int index) override
    {
        if (index < 1)
            return nullptr;
        std::vector<Var> a;
        a.push_back(Var::fromInt(index));
        Ref<IDispatch> object = call(L"Item", std::move(a)).toDispatch();
        return object ? std::make_shared<ComParagraph>(object, m_session) : nullptr;
    }
};

class ComFind : public Find, public Base
{
public:
    ComFind(Ref<IDispatch> object, SessionPtr session)
        : Base(std::move(object), std::move(session), "Find")
    {
    }
    void clearFormatting() override { call(L"ClearFormatting", {}); }
    void setFont(const Font& font) override { writeFont(*m_session, get(L"Font").toDispatch().Get(), font); }
    void clearReplacementFormatting() override
    {
        Ref<IDispatch> replacement = get(L"Replacement").toDispatch();
        if (replacement)
            m_session->call(replacement.Get(), "Replacement", L"ClearFormatting");
    }
    void setReplacementFont(const Font& font) override
    {
        Ref<IDispatch> replacement = get(L"Replacement").toDispatch();
        if (!replacement)
            return;
        writeFont(*m_session, m_session->get(replacement.Get(), "Replacement", L"Font").toDispatch().Get(), font);
    }
    bool execute(bool forward, bool format, int replace) override
    {
        // Execute(FindText, MatchCase, MatchWholeWord, MatchWildcards,
        // MatchSoundsLike, MatchAllWordForms, Forward, Wrap, Format,
        // ReplaceWith, Replace)
        std::vector<Var> a;
        a.push_back(Var::fromString(std::wstring()));
        for (int i = 0; i < 5; ++i)
            a.push_back(Var::missing());
        a.push_back(Var::fromBool(forward));
        a.push_back(Var::missing());
        a.push_back(Var::fromBool(format));
        a.push_back(Var::fromString(std::wstring()));
        a.push_back(Var::fromInt(replace));
        return call(L"Execute", std::move(a)).toBool().value_or(false);
    }
};

std::shared_ptr<Paragraphs> ComRange::paragraphs()
{
    Ref<IDispatch> object = get(L"Paragraphs").toDispatch();
    return object ? std::make_shared<ComParagraphs>(object, m_session) : nullptr;
}

std::shared_ptr<Find> ComRange::find()
{
    Ref<IDispatch> object = get(L"Find").toDispatch();
    return object ? std::make_shared<ComFind>(object, m_session) : nullptr;
}

class ComDocument : public Document, public Base
{
public:
    ComDocument(Ref<IDispatch> object, SessionPtr session)
        : Base(std::move(object), std::move(session), "Document")
    {
    }
    std::shared_ptr<Range> content() override { return makeRange(get(L"Content").toDispatch(), m_session); }
    std::shared_ptr<Range> range(int start, int end) override
    {
        if (start < 0 || end < start)
            return nullptr;
        std::vector<Var> a;
        a.push_back(Var::fromInt(start));
        a.push_back(Var::fromInt(end));
        return makeRange(call(L"Range", std::move(a)).toDispatch(), m_session);
    }
    QString fullName() override
    {
        const std::optional<std::wstring> name = get(L"FullName").toString();
        return name ? toQString(*name) : QString();
    }
    // Word 2010 and later group changes with UndoRecord's custom records (they
    // nest: only the outermost one shows); an editor without them keeps one
    // undo step per change.
    void enterUndoContext(const QString& title) override
    {
        Ref<IDispatch> undo = get(L"UndoRecord").toDispatch();
        if (!undo)
            return;
        std::vector<Var> a;
        a.push_back(Var::fromString(toWString(title.left(64))));
        m_session->call(undo.Get(), "UndoRecord", L"StartCustomRecord", std::move(a));
    }
    void leaveUndoContext() override
    {
        Ref<IDispatch> undo = get(L"UndoRecord").toDispatch();
        if (undo)
            m_session->call(undo.Get(), "UndoRecord", L"EndCustomRecord");
    }
    bool isModified() override
    {
        const std::optional<bool> saved = get(L"Saved").toBool();
        return saved ? !*saved : false;
    }
    void setModified(bool modified) override { put(L"Saved", Var::fromBool(!modified)); }
};

class ComWindow : public Window, public Base
{
public:
    ComWindow(Ref<IDispatch> object, SessionPtr session)
        : Base(std::move(object), std::move(session), "Window")
    {
    }
    bool getPoint(int& left, int& top, int& width, int& height, const std::shared_ptr<Range>& range) override
    {
        IDispatch* target = dispatchOf(range);
        if (!target)
            return false;
        long l = 0, t = 0, w = 0, h = 0;
        std::vector<Var> a;
        a.push_back(Var::refInt(&l));
        a.push_back(Var::refInt(&t));
        a.push_back(Var::refInt(&w));
        a.push_back(Var::refInt(&h));
        a.push_back(Var::fromDispatch(target));
        call(L"GetPoint", std::move(a));
        if (!m_session->lastCallSucceeded())
            return false;
        left = static_cast<int>(l);
        top = static_cast<int>(t);
        width = static_cast<int>(w);
        height = static_cast<int>(h);
        return true;
    }
};

class ComSelection : public Selection, public Base
{
public:
    ComSelection(Ref<IDispatch> object, SessionPtr session)
        : Base(std::move(object), std::move(session), "Selection")
    {
    }
    std::shared_ptr<Range> range() override { return makeRange(get(L"Range").toDispatch(), m_session); }
    std::optional<int> information(int type) override
    {
        std::vector<Var> a;
        a.push_back(Var::fromInt(type));
        return asInt(call(L"Information", std::move(a)));
    }
    std::shared_ptr<Document> document() override { return makeDocument(get(L"Document").toDispatch(), m_session); }
};

IDispatch* dispatchOf(const std::shared_ptr<Object>& object)
{
    if (auto* range = dynamic_cast<ComRange*>(object.get()))
        return range->dispatch();
    return nullptr;
}

// The sink offered to the application's connection point: turns each event's
// DISPPARAMS into the interface's parameters and hands them to the logic's
// sink. The calls arrive on the GUI thread (the thread of our single-threaded
// apartment) while it waits in its message loop or in an outgoing call.
class EventDispatch final : public IDispatch
{
public:
    EventDispatch(std::shared_ptr<EventSink> sink, SessionPtr session)
        : m_sink(std::move(sink))
        , m_session(std::move(session))
    {
    }
    void detach() { m_sink.reset(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || isApplicationEvents(riid)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG refs = --m_refs;
        if (refs == 0)
            delete this;
        return refs;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        // Keep the sink alive through the call: the handler may unadvise.
        const std::shared_ptr<EventSink> sink = m_sink;
        if (!sink)
            return S_FALSE;
        const wchar_t* kinds = declaredKinds(id);
        if (!kinds)
            return S_OK; // an event the logic does not handle
        const UINT declared = static_cast<UINT>(wcslen(kinds));
        std::vector<Variant> parameters;
        const UINT count = params ? params->cArgs : 0;
        for (UINT i = 0; i < count; ++i) {
            // rgvarg holds the last declared parameter first, as the sink wants them.
            const wchar_t kind = i < declared ? kinds[declared - 1 - i] : L'?';
            parameters.push_back(convert(params->rgvarg[i], kind));
        }
        return static_cast<HRESULT>(sink->onEvent(static_cast<int>(id), parameters));
    }

private:
    // Word's application event interfaces: ApplicationEvents and its
    // successors 2, 3 and 4 (the same events, more of them).
    static bool isApplicationEvents(REFIID riid)
    {
        static const IID others[] = {
            {0x000209f7, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
            {0x00020a00, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
            {0x00020a01, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
        };
        if (riid == DIID_ApplicationEvents2)
            return true;
        for (const IID& iid : others) {
            if (riid == iid)
                return true;
        }
        return false;
    }
    // The declared parameters of the handled events: D document, W window,
    // S selection, B flag.
    static const wchar_t* declaredKinds(DISPID id)
    {
        switch (id) {
        case EventDocumentBeforeClose:
            return L"DB";
        case EventDocumentBeforeSave:
            return L"DBB";
        case EventWindowDeactivate:
        case EventWindowSize:
            return L"DW";
        case EventWindowSelectionChange:
            return L"S";
        default:
            return nullptr;
        }
    }
    Variant convert(const VARIANT& raw, wchar_t kind)
    {
        const VARIANT* v = &raw;
        if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal)
            v = v->pvarVal;
        if (v->vt == (VT_BYREF | VT_BOOL))
            return Variant(v->pboolVal && *v->pboolVal != VARIANT_FALSE);
        if (v->vt == VT_BOOL)
            return Variant(v->boolVal != VARIANT_FALSE);
        Ref<IDispatch> object;
        if (v->vt == VT_DISPATCH)
            object = v->pdispVal;
        else if (v->vt == (VT_BYREF | VT_DISPATCH) && v->ppdispVal)
            object = *v->ppdispVal;
        if (object) {
            switch (kind) {
            case L'D':
                return Variant(std::static_pointer_cast<Object>(makeDocument(object, m_session)));
            case L'W':
                return Variant(std::static_pointer_cast<Object>(makeWindow(object, m_session)));
            case L'S':
                return Variant(std::static_pointer_cast<Object>(makeSelection(object, m_session)));
            default:
                return Variant();
            }
        }
        if (v->vt == VT_I4)
            return Variant(static_cast<int>(v->lVal));
        if (v->vt == VT_BSTR)
            return Variant(v->bstrVal ? toQString(std::wstring(v->bstrVal, SysStringLen(v->bstrVal))) : QString());
        return Variant();
    }

    std::atomic<ULONG> m_refs{1};
    std::shared_ptr<EventSink> m_sink;
    SessionPtr m_session;
};

} // namespace

struct ComApplication::Connection
{
    Ref<IConnectionPoint> point;
    DWORD cookie = 0;
    EventDispatch* sink = nullptr; // one reference held here
};

ComApplication::ComApplication(Ref<IDispatch> application, SessionPtr session)
    : m_app(std::move(application))
    , m_session(std::move(session))
{
}

ComApplication::~ComApplication()
{
    while (!m_connections.empty())
        unadvise(m_connections.begin()->first);
}

std::shared_ptr<ComApplication> ComApplication::fromWindow(HWND window)
{
    if (!window)
        return nullptr;
    // The calling thread is a single-threaded apartment, for as long as it
    // lives (Qt's windows platform has made it one already; this holds
    // without a platform too), so that the editor's events arrive on it.
    static thread_local const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(apartment) && apartment != RPC_E_CHANGED_MODE)
        return nullptr;
    // A busy editor is asked again for 3 s, a hung one given up after 8 s.
    com::installCallTimeout(3000, 8000);
    Ref<IDispatch> nativeModel;
    const HRESULT hr = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_NATIVEOM), IID_IDispatch,
                                                  reinterpret_cast<void**>(nativeModel.GetAddressOf()));
    if (FAILED(hr) || !nativeModel) {
        qCDebug(lcCom) << "no object model behind the window" << Qt::hex << static_cast<unsigned long>(hr);
        return nullptr;
    }
    auto session = std::make_shared<com::Session>();
    Ref<IDispatch> application = session->get(nativeModel.Get(), "Window", L"Application").toDispatch();
    if (!application)
        return nullptr;
    return std::make_shared<ComApplication>(application, session);
}

std::shared_ptr<Document> ComApplication::activeDocument()
{
    return makeDocument(m_session->get(m_app.Get(), "Application", L"ActiveDocument").toDispatch(), m_session);
}

std::shared_ptr<Window> ComApplication::activeWindow()
{
    return makeWindow(m_session->get(m_app.Get(), "Application", L"ActiveWindow").toDispatch(), m_session);
}

std::shared_ptr<Selection> ComApplication::selection()
{
    return makeSelection(m_session->get(m_app.Get(), "Application", L"Selection").toDispatch(), m_session);
}

QString ComApplication::version()
{
    const std::optional<std::wstring> version = m_session->get(m_app.Get(), "Application", L"Version").toString();
    return version ? toQString(*version) : QString();
}

int ComApplication::advise(const std::shared_ptr<EventSink>& sink)
{
    if (!sink || !m_app)
        return 0;
    Ref<IConnectionPointContainer> container;
    if (FAILED(m_app.As(&container)) || !container)
        return 0;
    auto connection = std::make_unique<Connection>();
    if (FAILED(container->FindConnectionPoint(DIID_ApplicationEvents2, connection->point.GetAddressOf())) ||
        !connection->point)
        return 0;
    connection->sink = new EventDispatch(sink, m_session);
    if (FAILED(connection->point->Advise(connection->sink, &connection->cookie)) || connection->cookie == 0) {
        connection->sink->detach();
        connection->sink->Release();
        return 0;
    }
    int cookie = 1;
    while (m_connections.count(cookie))
        ++cookie;
    m_connections.emplace(cookie, std::move(connection));
    return cookie;
}

void ComApplication::unadvise(int cookie)
{
    auto it = m_connections.find(cookie);
    if (it == m_connections.end())
        return;
    std::unique_ptr<Connection> connection = std::move(it->second);
    m_connections.erase(it);
    // Events that still arrive (or a server that is gone) reach nobody.
    connection->sink->detach();
    connection->point->Unadvise(connection->cookie);
    connection->sink->Release();
}

std::shared_ptr<Document> makeDocument(Ref<IDispatch> object, const SessionPtr& session)
{
    return object ? std::make_shared<ComDocument>(std::move(object), session) : nullptr;
}

std::shared_ptr<Window> makeWindow(Ref<IDispatch> object, const SessionPtr& session)
{
    return object ? std::make_shared<ComWindow>(std::move(object), session) : nullptr;
}

std::shared_ptr<Selection> makeSelection(Ref<IDispatch> object, const SessionPtr& session)
{
    return object ? std::make_shared<ComSelection>(std::move(object), session) : nullptr;
}

std::shared_ptr<Range> makeRange(Ref<IDispatch> object, const SessionPtr& session)
{
    return object ? std::make_shared<ComRange>(std::move(object), session) : nullptr;
}

} // namespace comword
