#include "ComDispatch.h"

#include <algorithm>

namespace com {

Var::Var(const Var& other)
{
    VariantInit(&m_v);
    VariantCopy(&m_v, const_cast<VARIANT*>(&other.m_v));
}

Var::Var(Var&& other) noexcept
{
    m_v = other.m_v;
    VariantInit(&other.m_v);
}

Var& Var::operator=(Var other) noexcept
{
    std::swap(m_v, other.m_v);
    return *this;
}

Var Var::fromInt(long value)
{
    Var v;
    v.m_v.vt = VT_I4;
    v.m_v.lVal = value;
    return v;
}

Var Var::fromBool(bool value)
{
    Var v;
    v.m_v.vt = VT_BOOL;
    v.m_v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Var Var::fromString(const std::wstring& text)
{
    Var v;
    v.m_v.vt = VT_BSTR;
    v.m_v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!v.m_v.bstrVal)
        v.m_v.vt = VT_EMPTY;
    return v;
}

Var Var::fromDispatch(IDispatch* object)
{
    Var v;
    if (!object)
        return v;
    v.m_v.vt = VT_DISPATCH;
    v.m_v.pdispVal = object;
    object->AddRef();
    return v;
}

Var Var::missing()
{
    Var v;
    v.m_v.vt = VT_ERROR;
    v.m_v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

Var Var::refInt(long* target)
{
    Var v;
    v.m_v.vt = VT_BYREF | VT_I4;
    v.m_v.plVal = target;
    return v;
}

Var Var::adopt(VARIANT& from)
{
    Var v;
    v.m_v = from;
    VariantInit(&from);
    return v;
}

std::optional<long> Var::toInt() const
{
    if (isEmpty() || m_v.vt == VT_ERROR || m_v.vt == VT_DISPATCH || m_v.vt == VT_UNKNOWN)
        return std::nullopt;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&m_v), 0, VT_I4)))
        return std::nullopt;
    return converted.lVal;
}

std::optional<bool> Var::toBool() const
{
    if (m_v.vt == VT_BSTR)
        return std::nullopt;
    const std::optional<long> n = toInt();
    if (!n)
        return std::nullopt;
    return *n != 0;
}

std::optional<std::wstring> Var::toString() const
{
    if (m_v.vt == VT_BSTR)
        return m_v.bstrVal ? std::wstring(m_v.bstrVal, SysStringLen(m_v.bstrVal)) : std::wstring();
    if (m_v.vt == (VT_BYREF | VT_BSTR) && m_v.pbstrVal)
        return *m_v.pbstrVal ? std::wstring(*m_v.pbstrVal, SysStringLen(*m_v.pbstrVal)) : std::wstring();
    return std::nullopt;
}

Ref<IDispatch> Var::toDispatch() const
{
    Ref<IDispatch> object;
    if (m_v.vt == VT_DISPATCH && m_v.pdispVal)
        object = m_v.pdispVal;
    else if (m_v.vt == VT_UNKNOWN && m_v.punkVal)
        m_v.punkVal->QueryInterface(IID_PPV_ARGS(&object));
    return object;
}

Var Session::call(IDispatch* object, const char* kind, const wchar_t* member, std::vector<Var> args)
{
    Var result;
    invoke(object, kind, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, &result);
    return result;
}

bool Session::put(IDispatch* object, const char* kind, const wchar_t* member, Var value)
{
    std::vector<Var> args;
    args.push_back(std::move(value));
    return invoke(object, kind, member, DISPATCH_PROPERTYPUT, args, nullptr);
}

bool Session::dispId(IDispatch* object, const char* kind, const wchar_t* member, DISPID* id)
{
    std::wstring key(kind, kind + std::char_traits<char>::length(kind));
    key += L'.';
    key += member;
    auto it = m_ids.find(key);
    if (it == m_ids.end()) {
        DISPID found = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(member);
        ++m_counts.nameLookups;
        const HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &found);
        // Only an answer from the server is remembered; a dead server is not news about the member.
        if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND || SUCCEEDED(hr))
            it = m_ids.emplace(key, SUCCEEDED(hr) ? found : DISPID_UNKNOWN).first;
        else {
            m_lastResult = hr;
            return false;
        }
    }
    *id = it->second;
    return it->second != DISPID_UNKNOWN;
}

bool Session::invoke(IDispatch* object, const char* kind, const wchar_t* member, WORD flags, std::vector<Var>& args,
                     Var* result)
{
    m_lastOk = false;
    if (!object)
        return false;
    DISPID id = DISPID_UNKNOWN;
    if (!dispId(object, kind, member, &id))
        return false;

    // DISPPARAMS holds the arguments last declared first.
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        reversed.push_back(*it->get());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params = {};
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    params.cArgs = static_cast<UINT>(reversed.size());
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    VARIANT out;
    VariantInit(&out);
    EXCEPINFO exception = {};
    UINT argError = 0;
    ++m_counts.invokes;
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result ? &out : nullptr,
                                      &exception, &argError);
    m_lastResult = hr;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr)) {
        VariantClear(&out);
        return false;
    }
    if (result)
        *result = Var::adopt(out);
    m_lastOk = true;
    return true;
}

namespace {

class CallTimeout final : public IMessageFilter
{
public:
    CallTimeout(DWORD busyMs, DWORD hungMs)
        : m_busyMs(busyMs)
        , m_hungMs(hungMs)
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IMessageFilter) {
            *object = static_cast<IMessageFilter*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives as long as the thread: counting is not needed.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override
    {
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsed, DWORD rejectType) override
    {
        if (rejectType == SERVERCALL_RETRYLATER && elapsed < m_busyMs)
            return 100; // ms until the next try
        return static_cast<DWORD>(-1);
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD elapsed, DWORD) override
    {
        return elapsed > m_hungMs ? PENDINGMSG_CANCELCALL : PENDINGMSG_WAITDEFPROCESS;
    }

private:
    DWORD m_busyMs;
    DWORD m_hungMs;
};

thread_local bool t_timeoutInstalled = false;

} // namespace

bool installCallTimeout(DWORD busyMs, DWORD hungMs)
{
    if (t_timeoutInstalled)
        return true;
    static thread_local CallTimeout filter(busyMs, hungMs);
    IMessageFilter* previous = nullptr;
    if (FAILED(CoRegisterMessageFilter(&filter, &previous)))
        return false;
    // The filter hears of a waiting call only when a message arrives: a
    // thread timer makes sure one does.
    SetTimer(nullptr, 0, 500, nullptr);
    t_timeoutInstalled = true;
    return true;
}

} // namespace com
