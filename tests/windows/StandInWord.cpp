// A stand-in for Word, for the tests only: a top-level window whose document
// child window has the class "_WwG" and answers WM_GETOBJECT for
// OBJID_NATIVEOM with a Word-like object model (Window, Application,
// Documents, Selection, Range, Font, Paragraphs, Find, UndoRecord) built on the
// in-memory word processor, reached across processes through COM. The
// application raises its events (ApplicationEvents2) through a connection
// point.
//
//   StandInWord.exe [--title TITLE] [--text FILE] [--chars-per-line N] [--lines-per-page N]
//
// The test drives it through standard input, one command a line, each
// answered with one line on standard output:
//   focus                 bring the window to the front and focus the document
//   caret START END       the user moves the caret (selection change event)
//   save | close          the user saves or closes (before-save / before-close events)
//   text                  the document's text (UTF-8, "\r" shown as "\n")
//   marks                 the runs carrying the mark: "marks S-E S-E ..."
//   changed               characters whose formatting differs from the start: "changed N"
//   savedmarks            marked characters in the last save: "savedmarks N"
//   calls | resetcalls    automation calls served so far
//   undo                  undo steps recorded so far
//   quit
#include "DispatchObject.h"
#include "MemoryWord.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <oleacc.h>
#include <ocidl.h>
#include <shellapi.h>
#include <olectl.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

using namespace automation;
using memoryword::MemoryApplication;
using memoryword::MemoryDocument;

namespace {

const UINT WM_COMMAND_LINE = WM_APP + 1;

// {000209FE-0000-0000-C000-000000000046}: Word's ApplicationEvents2.
const IID DIID_ApplicationEvents2 = {0x000209fe, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::shared_ptr<MemoryApplication> g_app;
std::shared_ptr<MemoryDocument> g_document;
std::vector<Font> g_initialFonts;
HWND g_top = nullptr;
HWND g_documentWindow = nullptr;
long g_served = 0;
HFONT g_font = nullptr;

RECT characterBox(HDC dc, int position);

std::wstring w(const QString& s)
{
    return s.toStdWString();
}

// An object that carries one object of the in-memory word processor.
template <typename T>
class Holder : public DispatchObject
{
public:
    Holder(const wchar_t* kind, std::shared_ptr<T> object)
        : m_object(std::move(object))
    {
        setKind(kind);
    }
    const std::shared_ptr<T>& object() const { return m_object; }

protected:
    std::shared_ptr<T> m_object;
};

IDispatch* wrapRange(std::shared_ptr<Range> range);
IDispatch* wrapDocument(std::shared_ptr<Document> document);
IDispatch* wrapSelection(std::shared_ptr<Selection> selection);
IDispatch* wrapWindow(std::shared_ptr<automation::Window> window);

// The range behind an argument, when it is one of ours.
std::shared_ptr<Range> rangeOf(IDispatch* object)
{
    if (!object)
        return nullptr;
    DispatchObject* ours = nullptr;
    if (FAILED(object->QueryInterface(IID_StandInObject, reinterpret_cast<void**>(&ours))) || !ours)
        return nullptr;
    auto* holder = dynamic_cast<Holder<Range>*>(ours);
    std::shared_ptr<Range> range = holder ? holder->object() : nullptr;
    ours->Release();
    return range;
}

// A Font whose properties are those of its range (reads) or set on it (writes).
class FontObject : public Holder<Range>
{
public:
    explicit FontObject(std::shared_ptr<Range> range)
        : Holder(L"Font", std::move(range))
    {
        member(
            L"Underline",
            [this](const Args&, VARIANT* r) {
                const std::optional<Font> f = m_object->font();
                return f ? resultInt(r, f->underline) : E_FAIL;
            },
            [this](const Args& a) {
                VARIANT* v = a.putValue();
                VARIANT n;
                VariantInit(&n);
                if (!v || FAILED(VariantChangeType(&n, v, 0, VT_I4)))
                    return E_INVALIDARG;
                m_object->setFont(Font{static_cast<int>(n.lVal), Undefined});
                return S_OK;
            });
        member(
            L"UnderlineColor",
            [this](const Args&, VARIANT* r) {
                const std::optional<Font> f = m_object->font();
                return f ? resultInt(r, f->underlineColor) : E_FAIL;
            },
            [this](const Args& a) {
                VARIANT* v = a.putValue();
                VARIANT n;
                VariantInit(&n);
                if (!v || FAILED(VariantChangeType(&n, v, 0, VT_I4)))
                    return E_INVALIDARG;
                m_object->setFont(Font{Undefined, static_cast<int>(n.lVal)});
                return S_OK;
            });
    }
};

// The Font of a Find or its Replacement: collects the formatting to look for
// or to put in.
class SearchFontObject : public DispatchObject
{
public:
    explicit SearchFontObject(std::function<void(const Font&)> apply)
        : m_apply(std::move(apply))
    {
        setKind(L"Font");
        auto setter = [this](int Font::*field) {
            return [this, field](const Args& a) {
                VARIANT* v = a.putValue();
                VARIANT n;
                VariantInit(&n);
                if (!v || FAILED(VariantChangeType(&n, v, 0, VT_I4)))
                    return E_INVALIDARG;
                m_font.*field = static_cast<int>(n.lVal);
                m_apply(m_font);
                return S_OK;
            };
        };
        member(
            L"Underline", [this](const Args&, VARIANT* r) { return resultInt(r, m_font.underline); },
            setter(&Font::underline));
        member(
            L"UnderlineColor", [this](const Args&, VARIANT* r) { return resultInt(r, m_font.underlineColor); },
            setter(&Font::underlineColor));
    }
    void reset() { m_font = Font{}; }

private:
    std::function<void(const Font&)> m_apply;
    Font m_font;
};

class ReplacementObject : public Holder<Find>
{
public:
    explicit ReplacementObject(std::shared_ptr<Find> find)
        : Holder(L"Replacement", std::move(find))
    {
        m_font = new SearchFontObject([this](const Font& f) { m_object->setReplacementFont(f); });
        member(L"ClearFormatting", [this](const Args&, VARIANT*) {
            m_object->clearReplacementFormatting();
            m_font->reset();
            return S_OK;
        });
        member(L"Font", [this](const Args&, VARIANT* r) {
            m_font->AddRef();
            return resultObject(r, m_font);
        });
    }
    ~ReplacementObject() override { m_font->Release(); }

private:
    SearchFontObject* m_font;
};

class FindObject : public Holder<Find>
{
public:
    explicit FindObject(std::shared_ptr<Find> find)
        : Holder(L"Find", std::move(find))
    {
        m_font = new SearchFontObject([this](const Font& f) { m_object->setFont(f); });
        m_replacement = new ReplacementObject(m_object);
        member(L"ClearFormatting", [this](const Args&, VARIANT*) {
            m_object->clearFormatting();
            m_font->reset();
            return S_OK;
        });
        member(L"Font", [this](const Args&, VARIANT* r) {
            m_font->AddRef();
            return resultObject(r, m_font);
        });
        member(L"Replacement", [this](const Args&, VARIANT* r) {
            m_replacement->AddRef();
            return resultObject(r, m_replacement);
        });
        // Execute(FindText, MatchCase, MatchWholeWord, MatchWildcards,
        // MatchSoundsLike, MatchAllWordForms, Forward, Wrap, Format,
        // ReplaceWith, Replace)
        member(L"Execute", [this](const Args& a, VARIANT* r) {
            if (!a.toString(0).value_or(std::wstring()).empty() || !a.toString(9).value_or(std::wstring()).empty())
                return E_NOTIMPL; // only formatting replacements are played
            return resultBool(r, m_object->execute(a.toBool(6).value_or(true), a.toBool(8).value_or(false),
                                                   static_cast<int>(a.toInt(10).value_or(0))));
        });
    }
    ~FindObject() override
    {
        m_font->Release();
        m_replacement->Release();
    }

private:
    SearchFontObject* m_font;
    ReplacementObject* m_replacement;
};

class ParagraphObject : public Holder<Paragraph>
{
public:
    explicit ParagraphObject(std::shared_ptr<Paragraph> paragraph)
        : Holder(L"Paragraph", std::move(paragraph))
    {
        member(L"Range", [this](const Args&, VARIANT* r) { return resultObject(r, wrapRange(m_object->range())); });
    }
};

class ParagraphsObject : public Holder<Paragraphs>
{
public:
    explicit ParagraphsObject(std::shared_ptr<Paragraphs> paragraphs)
        : Holder(L"Paragraphs", std::move(paragraphs))
    {
        member(L"Count", [this](const Args&, VARIANT* r) { return resultInt(r, m_object->count()); });
        member(L"Item", [this](const Args& a, VARIANT* r) {
            std::shared_ptr<Paragraph> p = m_object->item(static_cast<int>(a.toInt(0).value_or(0)));
            if (!p)
                return DISP_E_BADINDEX;
            return resultObject(r, new ParagraphObject(p));
        });
    }
};

class RangeObject : public Holder<Range>
{
public:
    explicit RangeObject(std::shared_ptr<Range> range)
        : Holder(L"Range", std::move(range))
    {
        member(
            L"Text", [this](const Args&, VARIANT* r) { return resultString(r, w(m_object->text())); },
            [this](const Args& a) {
                VARIANT* v = a.putValue();
                if (!v || v->vt != VT_BSTR)
                    return E_INVALIDARG;
                m_object->setText(QString::fromWCharArray(v->bstrVal, static_cast<int>(SysStringLen(v->bstrVal))));
                return S_OK;
            });
        member(L"Start", [this](const Args&, VARIANT* r) { return resultInt(r, m_object->start()); });
        member(
            L"End", [this](const Args&, VARIANT* r) { return resultInt(r, m_object->end()); },
            [this](const Args& a) {
                VARIANT* v = a.putValue();
                VARIANT n;
                VariantInit(&n);
                if (!v || FAILED(VariantChangeType(&n, v, 0, VT_I4)))
                    return E_INVALIDARG;
                m_object->setEnd(static_cast<int>(n.lVal));
                return S_OK;
            });
        member(L"SetRange", [this](const Args& a, VARIANT*) {
            const std::optional<long> s = a.toInt(0), e = a.toInt(1);
            if (!s || !e)
                return E_INVALIDARG;
            m_object->setRange(static_cast<int>(*s), static_cast<int>(*e));
            return S_OK;
        });
        member(L"Font", [this](const Args&, VARIANT* r) { return resultObject(r, new FontObject(m_object)); });
        member(L"Paragraphs", [this](const Args&, VARIANT* r) {
            std::shared_ptr<Paragraphs> p = m_object->paragraphs();
            return p ? resultObject(r, new ParagraphsObject(p)) : E_FAIL;
        });
        member(L"GoTo", [this](const Args& a, VARIANT* r) {
            const std::optional<long> count = a.toInt(2);
            return resultObject(r, wrapRange(m_object->goTo(static_cast<int>(a.toInt(0).value_or(0)),
                                                            static_cast<int>(a.toInt(1).value_or(0)),
                                                            count ? std::optional<int>(int(*count)) : std::nullopt)));
        });
        member(L"Next", [this](const Args& a, VARIANT* r) {
            return resultObject(r, wrapRange(m_object->next(static_cast<int>(a.toInt(0).value_or(UnitCharacter)),
                                                            static_cast<int>(a.toInt(1).value_or(1)))));
        });
        member(L"Previous", [this](const Args& a, VARIANT* r) {
            return resultObject(r, wrapRange(m_object->previous(static_cast<int>(a.toInt(0).value_or(UnitCharacter)),
                                                                static_cast<int>(a.toInt(1).value_or(1)))));
        });
        member(L"InRange", [this](const Args& a, VARIANT* r) {
            std::shared_ptr<Range> other = rangeOf(a.toDispatch(0));
            if (!other)
                return E_INVALIDARG;
            return resultBool(r, m_object->inRange(other));
        });
        member(L"Expand", [this](const Args& a, VARIANT* r) {
            m_object->expand(static_cast<int>(a.toInt(0).value_or(UnitCharacter)));
            return resultInt(r, 1);
        });
        member(L"Information", [this](const Args& a, VARIANT* r) {
            const std::optional<int> n = m_object->information(static_cast<int>(a.toInt(0).value_or(0)));
            return n ? resultInt(r, *n) : S_OK;
        });
        member(L"Select", [this](const Args&, VARIANT*) {
            m_object->select();
            return S_OK;
        });
        member(L"Find", [this](const Args&, VARIANT* r) {
            std::shared_ptr<Find> f = m_object->find();
            return f ? resultObject(r, new FindObject(f)) : E_FAIL;
        });
    }
};

class UndoRecordObject : public Holder<Document>
{
public:
    explicit UndoRecordObject(std::shared_ptr<Document> document)
        : Holder(L"UndoRecord", std::move(document))
    {
        member(L"StartCustomRecord", [this](const Args& a, VARIANT*) {
            m_object->enterUndoContext(QString::fromStdWString(a.toString(0).value_or(std::wstring())));
            return S_OK;
        });
        member(L"EndCustomRecord", [this](const Args&, VARIANT*) {
            m_object->leaveUndoContext();
            return S_OK;
        });
    }
};

class DocumentObject : public Holder<Document>
{
public:
    explicit DocumentObject(std::shared_ptr<Document> document)
        : Holder(L"Document", std::move(document))
    {
        member(L"Content", [this](const Args&, VARIANT* r) { return resultObject(r, wrapRange(m_object->content())); });
        member(L"Range", [this](const Args& a, VARIANT* r) {
            std::shared_ptr<Range> range =
                m_object->range(static_cast<int>(a.toInt(0).value_or(0)), static_cast<int>(a.toInt(1).value_or(0)));
            return range ? resultObject(r, wrapRange(range)) : E_INVALIDARG;
        });
        member(L"FullName", [this](const Args&, VARIANT* r) { return resultString(r, w(m_object->fullName())); });
        member(
            L"Saved", [this](const Args&, VARIANT* r) { return resultBool(r, !m_object->isModified()); },
            [this](const Args& a) {
                VARIANT* v = a.putValue();
                VARIANT n;
                VariantInit(&n);
                if (!v || FAILED(VariantChangeType(&n, v, 0, VT_BOOL)))
                    return E_INVALIDARG;
                m_object->setModified(n.boolVal == VARIANT_FALSE);
                return S_OK;
            });
        member(L"UndoRecord",
               [this](const Args&, VARIANT* r) { return resultObject(r, new UndoRecordObject(m_object)); });
    }
};

class SelectionObject : public Holder<Selection>
{
public:
    explicit SelectionObject(std::shared_ptr<Selection> selection)
        : Holder(L"Selection", std::move(selection))
    {
        member(L"Range", [this](const Args&, VARIANT* r) { return resultObject(r, wrapRange(m_object->range())); });
        member(L"Information", [this](const Args& a, VARIANT* r) {
            const std::optional<int> n = m_object->information(static_cast<int>(a.toInt(0).value_or(0)));
            return n ? resultInt(r, *n) : S_OK;
        });
        member(L"Document",
               [this](const Args&, VARIANT* r) { return resultObject(r, wrapDocument(m_object->document())); });
    }
};

class ApplicationObject;

// Word's Window object; the one behind the document window answers
// Application too.
class WindowObject : public Holder<automation::Window>
{
public:
    explicit WindowObject(std::shared_ptr<automation::Window> window);
};

// The connection point of the application's events. A sink is asked for
// IDispatch (a dispinterface's calls are IDispatch calls).
class EventPoint final : public IConnectionPoint
{
public:
    explicit EventPoint(IConnectionPointContainer* container)
        : m_container(container)
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
            *object = static_cast<IConnectionPoint*>(this);
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
        if (!refs)
            delete this;
        return refs;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override
    {
        *iid = DIID_ApplicationEvents2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override
    {
        *container = m_container;
        m_container->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override
    {
        if (!sink || !cookie)
            return E_POINTER;
        IDispatch* dispatch = nullptr;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch)
            return CONNECT_E_CANNOTCONNECT;
        *cookie = m_next++;
        m_sinks.emplace_back(*cookie, dispatch);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override
    {
        for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
            if (it->first == cookie) {
                IDispatch* sink = it->second;
                m_sinks.erase(it);
                sink->Release();
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    // Raises an event to every sink; parameters last declared first.
    long fire(int id, const std::vector<Variant>& parameters)
    {
        std::vector<VARIANT> args(parameters.size());
        std::vector<VARIANT_BOOL> flags(parameters.size(), VARIANT_FALSE);
        for (size_t i = 0; i < parameters.size(); ++i) {
            VariantInit(&args[i]);
            const Variant& p = parameters[i];
            if (const bool* b = std::get_if<bool>(&p)) {
                flags[i] = *b ? VARIANT_TRUE : VARIANT_FALSE;
                args[i].vt = VT_BYREF | VT_BOOL;
                args[i].pboolVal = &flags[i];
            } else if (const int* n = std::get_if<int>(&p)) {
                args[i].vt = VT_I4;
                args[i].lVal = *n;
            } else if (const auto* o = std::get_if<std::shared_ptr<Object>>(&p)) {
                IDispatch* object = nullptr;
                if (auto d = std::dynamic_pointer_cast<Document>(*o))
                    object = wrapDocument(d);
                else if (auto s = std::dynamic_pointer_cast<Selection>(*o))
                    object = wrapSelection(s);
                else if (auto win = std::dynamic_pointer_cast<automation::Window>(*o))
                    object = wrapWindow(win);
                if (object) {
                    args[i].vt = VT_DISPATCH;
                    args[i].pdispVal = object;
                }
            }
        }
        DISPPARAMS params = {args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        long result = ResultOk;
        const auto sinks = m_sinks;
        for (const auto& sink : sinks) {
            sink.second->AddRef();
            const HRESULT hr = sink.second->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                                   nullptr, nullptr);
            sink.second->Release();
            if (FAILED(hr))
                result = hr;
        }
        for (VARIANT& v : args) {
            if (v.vt == VT_DISPATCH)
                VariantClear(&v);
        }
        return result;
    }
    size_t sinkCount() const { return m_sinks.size(); }

private:
    std::atomic<ULONG> m_refs{1};
    IConnectionPointContainer* m_container;
    std::vector<std::pair<DWORD, IDispatch*>> m_sinks;
    DWORD m_next = 1;
};

// Forwards the in-memory application's events to the connection point.
class EventRelay : public EventSink
{
public:
    explicit EventRelay(EventPoint* point)
        : m_point(point)
    {
    }
    long onEvent(int eventId, const std::vector<Variant>& parameters) override
    {
        return m_point->fire(eventId, parameters);
    }

private:
    EventPoint* m_point;
};

class ApplicationObject : public Holder<MemoryApplication>, public IConnectionPointContainer
{
public:
    explicit ApplicationObject(std::shared_ptr<MemoryApplication> application)
        : Holder(L"Application", std::move(application))
    {
        m_point = new EventPoint(this);
        m_object->advise(std::make_shared<EventRelay>(m_point));
        member(L"ActiveDocument",
               [this](const Args&, VARIANT* r) { return resultObject(r, wrapDocument(m_object->activeDocument())); });
        member(L"ActiveWindow",
               [this](const Args&, VARIANT* r) { return resultObject(r, wrapWindow(m_object->activeWindow())); });
        member(L"Selection",
               [this](const Args&, VARIANT* r) { return resultObject(r, wrapSelection(m_object->selection())); });
        member(L"Version", [this](const Args&, VARIANT* r) { return resultString(r, w(m_object->version())); });
        member(L"Name", [](const Args&, VARIANT* r) { return resultString(r, L"Microsoft Word"); });
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IConnectionPointContainer) {
            *object = static_cast<IConnectionPointContainer*>(this);
            AddRef();
            return S_OK;
        }
        return DispatchObject::QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return DispatchObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DispatchObject::Release(); }
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override
    {
        if (!point)
            return E_POINTER;
        *point = nullptr;
        if (riid != DIID_ApplicationEvents2)
            return CONNECT_E_NOCONNECTION;
        *point = m_point;
        m_point->AddRef();
        return S_OK;
    }
    size_t sinkCount() const { return m_point->sinkCount(); }

private:
    EventPoint* m_point;
};

ApplicationObject* g_applicationObject = nullptr;

WindowObject::WindowObject(std::shared_ptr<automation::Window> window)
    : Holder(L"Window", std::move(window))
{
    member(L"Application", [](const Args&, VARIANT* r) {
        g_applicationObject->AddRef();
        return resultObject(r, static_cast<DispatchObject*>(g_applicationObject));
    });
    // GetPoint(left, top, width, height, range): the first four by reference.
    member(L"GetPoint", [this](const Args& a, VARIANT*) {
        std::shared_ptr<Range> range = rangeOf(a.toDispatch(4));
        int left = 0, top = 0, width = 0, height = 0;
        if (!range || !m_object || !m_object->getPoint(left, top, width, height, range))
            return E_FAIL;
        // Where the window draws the range's first character, on the screen.
        HDC dc = GetDC(g_documentWindow);
        HGDIOBJ old = SelectObject(dc, g_font);
        const int start = std::min(range->start(), std::max(0, g_document->length() - 1));
        RECT first = characterBox(dc, start);
        RECT last = characterBox(dc, std::max(start, std::min(range->end(), g_document->length()) - 1));
        SelectObject(dc, old);
        ReleaseDC(g_documentWindow, dc);
        POINT origin = {first.left, first.top};
        ClientToScreen(g_documentWindow, &origin);
        return a.setInt(0, origin.x) && a.setInt(1, origin.y) &&
                       a.setInt(2, std::max<LONG>(1, last.right - first.left)) && a.setInt(3, first.bottom - first.top)
                   ? S_OK
                   : E_INVALIDARG;
    });
}

IDispatch* wrapRange(std::shared_ptr<Range> range)
{
    return range ? new RangeObject(std::move(range)) : nullptr;
}
IDispatch* wrapDocument(std::shared_ptr<Document> document)
{
    return document ? new DocumentObject(std::move(document)) : nullptr;
}
IDispatch* wrapSelection(std::shared_ptr<Selection> selection)
{
    return selection ? new SelectionObject(std::move(selection)) : nullptr;
}
IDispatch* wrapWindow(std::shared_ptr<automation::Window> window)
{
    return window ? new WindowObject(std::move(window)) : nullptr;
}

void reply(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void runCommand(const std::string& line)
{
    const QStringList words = QString::fromStdString(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString command = words.value(0);
    if (command == QLatin1String("focus")) {
        // The user clicks the window: it comes to the front, the focus passes
        // through the frame on to the document window.
        ShowWindow(g_top, SW_SHOWNORMAL);
        SetForegroundWindow(g_top);
        SetFocus(g_top);
        reply("ok");
    } else if (command == QLatin1String("caret")) {
        g_app->moveCaret(g_document, words.value(1).toInt(), words.value(2).toInt());
        reply("ok");
    } else if (command == QLatin1String("save")) {
        g_app->save(g_document);
        reply("ok");
    } else if (command == QLatin1String("close")) {
        g_app->close(g_document);
        reply("ok");
    } else if (command == QLatin1String("text")) {
        QString text = g_document->plainText();
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        reply(text.toUtf8().replace('\n', "\\n").toStdString());
    } else if (command == QLatin1String("marks")) {
        std::string out = "marks";
        const auto& fonts = g_document->fonts();
        const Font mark{UnderlineWavyHeavy, MarkColor};
        for (size_t i = 0; i < fonts.size();) {
            if (fonts[i] != mark) {
                ++i;
                continue;
            }
            size_t end = i;
            while (end < fonts.size() && fonts[end] == mark)
                ++end;
            out += " " + std::to_string(i) + "-" + std::to_string(end);
            i = end;
        }
        reply(out);
    } else if (command == QLatin1String("changed")) {
        const auto& fonts = g_document->fonts();
        int changed = 0;
        for (size_t i = 0; i < fonts.size(); ++i)
            changed += (i >= g_initialFonts.size() || fonts[i] != g_initialFonts[i]) ? 1 : 0;
        reply("changed " + std::to_string(changed));
    } else if (command == QLatin1String("savedmarks")) {
        int marked = 0;
        for (const Font& f : g_document->savedFonts())
            marked += f.underline == UnderlineWavyHeavy && f.underlineColor == MarkColor ? 1 : 0;
        reply("savedmarks " + std::to_string(marked));
    } else if (command == QLatin1String("calls")) {
        reply("calls " + std::to_string(g_served));
    } else if (command == QLatin1String("resetcalls")) {
        g_served = 0;
        reply("ok");
    } else if (command == QLatin1String("undo")) {
        reply("undo " + std::to_string(g_document->undoSteps()));
    } else if (command == QLatin1String("sinks")) {
        reply("sinks " + std::to_string(g_applicationObject->sinkCount()));
    } else if (command == QLatin1String("quit")) {
        reply("ok");
        PostQuitMessage(0);
    } else {
        reply("error unknown command");
    }
}

// The document is drawn as the in-memory layout lays it out: one row per
// line, a red wavy line under marked characters.
const int kMargin = 16;
const int kLineHeight = 28;

// Where character position lies in the document window (client coordinates):
// its left, top and width.
RECT characterBox(HDC dc, int position)
{
    const QString& text = g_document->plainText();
    const int line = g_document->lineOf(position);
    const int start = g_document->lineStart(line);
    SIZE before = {}, self = {};
    const std::wstring prefix = w(text.mid(start, position - start));
    GetTextExtentPoint32W(dc, prefix.c_str(), static_cast<int>(prefix.size()), &before);
    const std::wstring character = w(text.mid(position, 1));
    GetTextExtentPoint32W(dc, character.c_str(), static_cast<int>(character.size()), &self);
    const int top = kMargin + line * kLineHeight;
    return RECT{kMargin + before.cx, top, kMargin + before.cx + self.cx, top + kLineHeight - 6};
}

void paintDocument(HDC dc)
{
    RECT client;
    GetClientRect(g_documentWindow, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HGDIOBJ oldFont = SelectObject(dc, g_font);
    SetBkMode(dc, TRANSPARENT);
    const QString& text = g_document->plainText();
    for (int line = 0; line < g_document->lineCount(); ++line) {
        const int start = g_document->lineStart(line);
        const int end = line + 1 < g_document->lineCount() ? g_document->lineStart(line + 1) : text.size();
        std::wstring row = w(text.mid(start, end - start));
        while (!row.empty() && (row.back() == L'\r' || row.back() == L'\n'))
            row.pop_back();
        TextOutW(dc, kMargin, kMargin + line * kLineHeight, row.c_str(), static_cast<int>(row.size()));
    }
    HPEN pen = CreatePen(PS_SOLID, 2, RGB(240, 1, 0));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    for (int i = 0; i < text.size(); ++i) {
        if (!isMarkFont(g_document->fontAt(i)))
            continue;
        const RECT box = characterBox(dc, i);
        for (int x = box.left; x < box.right; x += 4) {
            MoveToEx(dc, x, box.bottom + ((x / 4) % 2 ? 0 : 3), nullptr);
            LineTo(dc, std::min<int>(x + 4, box.right), box.bottom + ((x / 4) % 2 ? 3 : 0));
        }
    }
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    SelectObject(dc, oldFont);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETOBJECT:
        if (window == g_documentWindow && static_cast<LONG>(lParam) == static_cast<LONG>(OBJID_NATIVEOM)) {
            WindowObject* object = new WindowObject(g_app->activeWindow());
            const LRESULT result = LresultFromObject(IID_IDispatch, wParam, static_cast<IDispatch*>(object));
            object->Release();
            return result;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (window == g_documentWindow)
            paintDocument(dc);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_SETFOCUS:
        // As Word does: the keyboard focus goes on to the document window.
        if (window == g_top && g_documentWindow) {
            SetFocus(g_documentWindow);
            return 0;
        }
        break;
    case WM_TIMER:
        // Our client changes the formatting behind the window's back.
        InvalidateRect(g_documentWindow, nullptr, FALSE);
        return 0;
    case WM_COMMAND_LINE: {
        // Posted to the window rather than the thread, so that modal loops
        // (COM's, while an event call is out) deliver it too.
        std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(lParam));
        runCommand(*line);
        return 0;
    }
    case WM_SIZE:
        if (window == g_top && g_documentWindow)
            MoveWindow(g_documentWindow, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_DESTROY:
        if (window == g_top)
            PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

QString argument(const QStringList& args, const QString& name, const QString& fallback)
{
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : fallback;
}

} // namespace

int main()
{
    // The wide command line: a title or path in Chinese survives any code page.
    QStringList args;
    int argc = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 1; i < argc; ++i)
            args << QString::fromWCharArray(argv[i]);
        LocalFree(argv);
    }
    const QString title = argument(args, QStringLiteral("--title"), QStringLiteral("report.docx - Microsoft Word"));
    QString text = QStringLiteral("这是一个测试文档。\r");
    const QString textFile = argument(args, QStringLiteral("--text"), QString());
    if (!textFile.isEmpty()) {
        QFile file(textFile);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(textFile));
            return 2;
        }
        text = QString::fromUtf8(file.readAll());
        text.replace(QLatin1String("\r\n"), QLatin1String("\r")).replace(QLatin1Char('\n'), QLatin1Char('\r'));
    }
    memoryword::Layout layout;
    layout.charsPerLine = argument(args, QStringLiteral("--chars-per-line"), QStringLiteral("30")).toInt();
    layout.linesPerPage = argument(args, QStringLiteral("--lines-per-page"), QStringLiteral("20")).toInt();

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    g_app = std::make_shared<MemoryApplication>();
    g_document = g_app->addDocument(QStringLiteral("C:\\Documents\\report.docx"), text, layout);
    g_app->activate(g_document);
    g_initialFonts = g_document->fonts();
    g_applicationObject = new ApplicationObject(g_app);
    DispatchObject::s_onInvoke = [](const std::wstring&) { ++g_served; };

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_IBEAM);
    windowClass.lpszClassName = L"OpusApp";
    RegisterClassW(&windowClass);
    windowClass.lpszClassName = L"_WwG";
    RegisterClassW(&windowClass);
    const std::wstring wtitle = w(title);
    g_top = CreateWindowW(L"OpusApp", wtitle.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 900, 600, nullptr, nullptr, instance,
                          nullptr);
    g_documentWindow = CreateWindowW(L"_WwG", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 900, 600, g_top, nullptr,
                                     instance, nullptr);
    g_font = CreateFontW(-18, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"WenQuanYi Micro Hei");
    ShowWindow(g_top, SW_SHOWNORMAL);
    UpdateWindow(g_top);
    SetTimer(g_top, 1, 250, nullptr);

    // Commands are read on a thread of their own and run on the window's thread.
    std::thread reader([] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            PostMessageW(g_top, WM_COMMAND_LINE, 0, reinterpret_cast<LPARAM>(new std::string(line)));
        }
        PostMessageW(g_top, WM_COMMAND_LINE, 0, reinterpret_cast<LPARAM>(new std::string("quit")));
    });
    reader.detach();
    reply("ready");

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    g_app->kill();
    CoUninitialize();
    std::fflush(stdout);
    // The reader thread may still wait on standard input.
    ExitProcess(0);
}
