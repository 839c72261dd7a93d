#include "DispatchObject.h"

#include <cwctype>

const IID IID_StandInObject = {0x5b0c2b55, 0x4e1e, 0x4a57, {0x9e, 0x58, 0x7b, 0x2a, 0x4f, 0x6f, 0x1a, 0x01}};

std::function<void(const std::wstring&)> DispatchObject::s_onInvoke;

namespace {

bool sameName(const std::wstring& a, const wchar_t* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return i == a.size() && !b[i];
}

} // namespace

VARIANT* Args::at(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    VARIANT* v = &m_params->rgvarg[m_params->cArgs - 1 - static_cast<UINT>(index)];
    if (v->vt == (VT_BYREF | VT_VARIANT))
        v = v->pvarVal;
    if (!v || (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND))
        return nullptr;
    return v;
}

std::optional<long> Args::toInt(int index) const
{
    VARIANT* v = at(index);
    if (!v)
        return std::nullopt;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, v, 0, VT_I4)))
        return std::nullopt;
    return converted.lVal;
}

std::optional<bool> Args::toBool(int index) const
{
    const std::optional<long> n = toInt(index);
    if (!n)
        return std::nullopt;
    return *n != 0;
}

std::optional<std::wstring> Args::toString(int index) const
{
    VARIANT* v = at(index);
    if (!v)
        return std::nullopt;
    if (v->vt == VT_BSTR)
        return v->bstrVal ? std::wstring(v->bstrVal, SysStringLen(v->bstrVal)) : std::wstring();
    if (v->vt == (VT_BYREF | VT_BSTR))
        return v->pbstrVal && *v->pbstrVal ? std::wstring(*v->pbstrVal, SysStringLen(*v->pbstrVal)) : std::wstring();
    return std::nullopt;
}

IDispatch* Args::toDispatch(int index) const
{
    VARIANT* v = at(index);
    if (!v)
        return nullptr;
    if (v->vt == VT_DISPATCH)
        return v->pdispVal;
    if (v->vt == (VT_BYREF | VT_DISPATCH))
        return v->ppdispVal ? *v->ppdispVal : nullptr;
    return nullptr;
}

VARIANT* Args::putValue() const
{
    if (!m_params || m_params->cArgs < 1)
        return nullptr;
    VARIANT* v = &m_params->rgvarg[0];
    if (v->vt == (VT_BYREF | VT_VARIANT))
        v = v->pvarVal;
    return v;
}

bool Args::setInt(int index, long value) const
{
    if (index < 0 || index >= count())
        return false;
    VARIANT* v = &m_params->rgvarg[m_params->cArgs - 1 - static_cast<UINT>(index)];
    switch (v->vt) {
    case VT_BYREF | VT_I4:
        *v->plVal = value;
        return true;
    case VT_BYREF | VT_INT:
        *v->pintVal = static_cast<INT>(value);
        return true;
    case VT_BYREF | VT_VARIANT:
        VariantClear(v->pvarVal);
        v->pvarVal->vt = VT_I4;
        v->pvarVal->lVal = value;
        return true;
    default:
        return false;
    }
}

void DispatchObject::member(const wchar_t* name, Handler get, Setter put)
{
    m_members.push_back({name, std::move(get), std::move(put)});
}

HRESULT DispatchObject::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_StandInObject) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG DispatchObject::Release()
{
    const ULONG refs = --m_refs;
    if (refs == 0)
        delete this;
    return refs;
}

HRESULT DispatchObject::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT n = 0; n < count; ++n)
        ids[n] = DISPID_UNKNOWN;
    for (size_t i = 0; i < m_members.size(); ++i) {
        if (sameName(m_members[i].name, names[0])) {
            ids[0] = static_cast<DISPID>(i + 1);
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    hr = DISP_E_UNKNOWNNAME;
    return hr;
}

HRESULT DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                               UINT*)
{
    if (id < 1 || static_cast<size_t>(id) > m_members.size())
        return DISP_E_MEMBERNOTFOUND;
    const Member& m = m_members[static_cast<size_t>(id - 1)];
    if (s_onInvoke)
        s_onInvoke(m_kind + L"." + m.name);
    Args args(params);
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (!m.put)
            return DISP_E_MEMBERNOTFOUND;
        return m.put(args);
    }
    if (!m.get)
        return DISP_E_MEMBERNOTFOUND;
    VARIANT scratch;
    VariantInit(&scratch);
    const HRESULT hr = m.get(args, result ? result : &scratch);
    VariantClear(&scratch);
    return hr;
}

HRESULT resultInt(VARIANT* result, long value)
{
    result->vt = VT_I4;
    result->lVal = value;
    return S_OK;
}

HRESULT resultBool(VARIANT* result, bool value)
{
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT resultString(VARIANT* result, const std::wstring& text)
{
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return result->bstrVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT resultObject(VARIANT* result, IDispatch* object)
{
    if (!object)
        return S_OK; // VT_EMPTY: nothing there
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    return S_OK;
}
