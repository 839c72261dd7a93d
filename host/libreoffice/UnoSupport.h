#pragma once

// Small helpers shared by the LibreOffice backend: text conversion between Qt
// and UNO, and the guard that keeps every UNO exception inside the backend.

#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <rtl/ustring.hxx>

#include <QLoggingCategory>
#include <QString>

#include <exception>

Q_DECLARE_LOGGING_CATEGORY(lcOffice)

namespace office {

inline rtl::OUString toOUString(const QString& text)
{
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()), text.size());
}

inline QString toQString(const rtl::OUString& text)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text.getStr()), text.getLength());
}

// Runs call and returns its result; any exception (a UNO exception from the
// office, a dead connection, anything else) is logged and answered by
// fallback. Every entry point of the backend goes through here.
template <typename Result, typename Call>
Result guarded(const char* what, Result fallback, Call&& call)
{
    try {
        return call();
    } catch (const css::uno::Exception& e) {
        qCDebug(lcOffice) << what << "failed:" << toQString(e.Message);
    } catch (const std::exception& e) {
        qCDebug(lcOffice) << what << "failed:" << e.what();
    } catch (...) {
        qCDebug(lcOffice) << what << "failed";
    }
    return fallback;
}

template <typename Call>
void guarded(const char* what, Call&& call)
{
    guarded<bool>(what, false, [&] {
        call();
        return true;
    });
}

} // namespace office

namespace office {

// A reference to an interface as one of its bases (the SDK's Reference does
// not convert by itself).
template <typename Base, typename Derived>
css::uno::Reference<Base> up(const css::uno::Reference<Derived>& reference)
{
    return css::uno::Reference<Base>(static_cast<Base*>(reference.get()));
}

} // namespace office
