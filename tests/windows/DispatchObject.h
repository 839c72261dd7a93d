#pragma once

// The server side of late binding, for the stand-in word processor: an
// IDispatch object whose members are named handlers. Names are matched
// without regard to case, as Word matches them; DISPIDs are the members'
// order of registration, from 1.

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Tells an object of ours from a proxy or a foreign object.
// {5B0C2B55-4E1E-4A57-9E58-7B2A4F6F1A01}
extern const IID IID_StandInObject;

// The arguments of one call, in declared order.
class Args
{
public:
    explicit Args(DISPPARAMS* params)
        : m_params(params)
    {
    }
    int count() const { return m_params ? static_cast<int>(m_params->cArgs) - m_params->cNamedArgs : 0; }
    // The argument at index (declared order), unwrapped from a reference;
    // null when it is missing or not given.
    VARIANT* at(int index) const;
    std::optional<long> toInt(int index) const;
    std::optional<bool> toBool(int index) const;
    std::optional<std::wstring> toString(int index) const;
    IDispatch* toDispatch(int index) const;
    // The value of a property put.
    VARIANT* putValue() const;
    // Writes an integer through the by-reference argument at index.
    bool setInt(int index, long value) const;

private:
    DISPPARAMS* m_params;
};

class DispatchObject : public IDispatch
{
public:
    // A getter or method: fills result and answers S_OK, or an error.
    using Handler = std::function<HRESULT(const Args& args, VARIANT* result)>;
    using Setter = std::function<HRESULT(const Args& args)>;

    DispatchObject() = default;
    virtual ~DispatchObject() = default;

    void member(const wchar_t* name, Handler get, Setter put = {});

    // Counts every Invoke on every object, by member ("Range.Text").
    static std::function<void(const std::wstring&)> s_onInvoke;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

protected:
    void setKind(const wchar_t* kind) { m_kind = kind; }

private:
    struct Member
    {
        std::wstring name;
        Handler get;
        Setter put;
    };
    std::atomic<ULONG> m_refs{1};
    std::vector<Member> m_members;
    std::wstring m_kind;
};

// Result helpers for handlers.
HRESULT resultInt(VARIANT* result, long value);
HRESULT resultBool(VARIANT* result, bool value);
HRESULT resultString(VARIANT* result, const std::wstring& text);
// Takes over object's reference (object may be null: an empty result).
HRESULT resultObject(VARIANT* result, IDispatch* object);
