#include "client/CConfig.h"
#include "client/TokenStore.h"

#include <QSettings>

#include <cstring>

namespace {
const QString kTokenKey = QStringLiteral("access_token");
}

CConfig::CConfig()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillet"),
                                             QStringLiteral("Office")))
    , m_token(std::make_unique<TokenStore>())
{
}

CConfig::~CConfig() = default;

QVariant CConfig::getValue(const QString& key, const QVariant& defaultValue)
{
    if (!m_settings)
        return QVariant();
    if (key == kTokenKey) {
        // A token an earlier version left in the settings file moves out.
        if (m_settings->contains(kTokenKey)) {
            const QString plain = m_settings->value(kTokenKey).toString();
            if (m_token->read() || m_token->write(plain)) {
                m_settings->remove(kTokenKey);
                m_settings->sync();
            }
        }
        const std::optional<QString> token = m_token->read();
        return token ? QVariant(*token) : defaultValue;
    }
    return m_settings->value(key, defaultValue);
}

void CConfig::setValue(const QString& key, const QVariant& value)
{
    if (!m_settings)
        return;
    if (key == kTokenKey) {
        m_token->write(value.toString());
        m_settings->remove(kTokenKey);
        m_settings->sync();
        return;
    }
    m_settings->setValue(key, value);
}

bool CConfig::getValueBool(const QString& key, bool defaultValue)
{
    return getValue(key, defaultValue).toBool();
}

int CConfig::getValueInt(const QString& key, int defaultValue)
{
    return getValue(key, defaultValue).toInt();
}

QString CConfig::getValueString(const QString& key, const QString& defaultValue)
{
    return getValue(key, defaultValue).toString();
}

bool CConfig::getValueBinary(const QString& key, unsigned char** data, unsigned int* size)
{
    if (!data || !size)
        return false;
    *data = nullptr;
    *size = 0;
    const QVariant value = getValue(key, QVariant());
    if (!value.isValid())
        return false;
    const QByteArray bytes = value.toByteArray();
    *size = unsigned(bytes.size());
    *data = new unsigned char[bytes.size() > 0 ? bytes.size() : 1];
    if (!bytes.isEmpty())
        std::memcpy(*data, bytes.constData(), size_t(bytes.size()));
    return true;
}

void CConfig::setValueBool(const QString& key, bool value)
{
    setValue(key, value);
}

void CConfig::setValueInt(const QString& key, int value)
{
    setValue(key, value);
}

void CConfig::setValueString(const QString& key, const QString& value)
{
    setValue(key, value);
}

void CConfig::setValueBinary(const QString& key, const unsigned char* data, unsigned int size)
{
    setValue(key, QByteArray(reinterpret_cast<const char*>(data), data ? int(size) : 0));
}

void CConfig::sync()
{
    if (m_settings)
        m_settings->sync();
}

CConfig* getConfig()
{
    static CConfig* config = new CConfig;
    return config;
}
