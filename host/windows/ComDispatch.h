#pragma once

// Late-bound calls into an automation server (Word, WPS) through IDispatch,
// by member name. Free of Qt, so that it builds and is tested on its own.
//
// Conventions: arguments are given in declared order (the call reverses them
// into DISPPARAMS); an optional argument that is left out is Var::missing();
// integers travel as 32-bit integer variants, texts as BSTR, objects as
// IDispatch. A call that fails answers an empty Var; nothing throws.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace com {

template <typename T>
using Ref = Microsoft::WRL::ComPtr<T>;

// An owned VARIANT.
class Var
{
public:
    Var() { VariantInit(&m_v); }
    Var(const Var& other);
    Var(Var&& other) noexcept;
    Var& operator=(Var other) noexcept;
    ~Var() { VariantClear(&m_v); }

    static Var fromInt(long value);
    static Var fromBool(bool value);
    static Var fromString(const std::wstring& text);
    static Var fromDispatch(IDispatch* object);
    // The missing-argument value: an error variant carrying DISP_E_PARAMNOTFOUND.
    static Var missing();
    // A reference to the caller's integer, for output arguments.
    static Var refInt(long* target);
    // Takes over v (v is left empty).
    static Var adopt(VARIANT& v);

    bool isEmpty() const { return m_v.vt == VT_EMPTY || m_v.vt == VT_NULL; }
    bool isMissing() const { return m_v.vt == VT_ERROR && m_v.scode == DISP_E_PARAMNOTFOUND; }
    // The value as an integer, bool, text or object; empty when it is none of these.
    std::optional<long> toInt() const;
    std::optional<bool> toBool() const;
    std::optional<std::wstring> toString() const;
    Ref<IDispatch> toDispatch() const;

    VARIANT* get() { return &m_v; }
    const VARIANT& value() const { return m_v; }

private:
    VARIANT m_v;
};

// How many calls crossed into the server.
struct CallCounts
{
    long invokes = 0;     // IDispatch::Invoke
    long nameLookups = 0; // IDispatch::GetIDsOfNames (once per kind and member)
};

// Calls members by name. The DISPID of a member is asked for once per kind of
// object ("Range", "Font", ...) and remembered, as is a member the server does
// not have; one session serves all objects of one application, whose objects
// of a kind share their members' DISPIDs.
class Session
{
public:
    // Property get or method call (the flags allow both, as late binding does).
    Var call(IDispatch* object, const char* kind, const wchar_t* member, std::vector<Var> args = {});
    Var get(IDispatch* object, const char* kind, const wchar_t* member) { return call(object, kind, member); }
    bool put(IDispatch* object, const char* kind, const wchar_t* member, Var value);
    // Whether the last call succeeded.
    bool lastCallSucceeded() const { return m_lastOk; }
    HRESULT lastResult() const { return m_lastResult; }

    const CallCounts& counts() const { return m_counts; }
    void resetCounts() { m_counts = {}; }

private:
    bool invoke(IDispatch* object, const char* kind, const wchar_t* member, WORD flags, std::vector<Var>& args,
                Var* result);
    bool dispId(IDispatch* object, const char* kind, const wchar_t* member, DISPID* id);

    std::map<std::wstring, DISPID> m_ids; // "Kind.Member" → DISPID (DISPID_UNKNOWN: not a member)
    CallCounts m_counts;
    bool m_lastOk = false;
    HRESULT m_lastResult = S_OK;
};

// Bounds every outgoing call of this thread (a single-threaded apartment):
// a server that rejects calls while busy is asked again for up to busyMs, one
// that does not answer within hungMs is given up (the call fails, its result
// is empty) instead of freezing the caller. Installed once per thread; later
// calls change nothing. False when COM refuses the filter.
bool installCallTimeout(DWORD busyMs, DWORD hungMs);

} // namespace com
