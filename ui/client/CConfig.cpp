#include "client/CConfig.h"

#include <QSettings>

#include <cstring>

CConfig::CConfig()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillet"),
                                             QStringLiteral("Office")))
{
}

CConfig::~CConfig() = default;

QVariant CConfig::getValue(const QString& key, const QVariant& defaultValue)
{
    return m_settings ? m_settings->value(key, defaultValue) : QVariant();
}

void CConfig::setValue(const QString& key, const QVariant& value)
{
    if (m_settings)
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
