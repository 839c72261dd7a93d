#pragma once

#include "ScholiaGlobal.h"

#include <QString>
#include <QVariant>

#include <memory>

class QSettings;
class TokenStore;

// The persistent key/value store: the stored login and the tool window's
// position and fold state, in QSettings("Quillet", "Office") (native format,
// user scope: ~/.config/Quillet/Office.conf on Linux). Keys are flat.
// Reads return the default when the key is absent; writes go to QSettings at once.
// The one exception is "access_token": it is kept by TokenStore (the desktop's
// secret service, else a file only this user may read), never in the settings
// file; a token found there from an earlier version is moved on first read.
class SCHOLIA_EXPORT CConfig
{
public:
    CConfig();
    ~CConfig();

    bool getValueBool(const QString& key, bool defaultValue);
    int getValueInt(const QString& key, int defaultValue);
    QString getValueString(const QString& key, const QString& defaultValue);
    // Copies the stored bytes into a new[]-allocated buffer that the caller
    // frees with delete[]; false (and *data null) when the key is absent.
    bool getValueBinary(const QString& key, unsigned char** data, unsigned int* size);

    void setValueBool(const QString& key, bool value);
    void setValueInt(const QString& key, int value);
    void setValueString(const QString& key, const QString& value);
    void setValueBinary(const QString& key, const unsigned char* data, unsigned int size);

    // Writes pending changes to the backing store now.
    void sync();

private:
    QVariant getValue(const QString& key, const QVariant& defaultValue);
    void setValue(const QString& key, const QVariant& value);

    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<TokenStore> m_token;
};

// The process-wide store, created on first call and kept until exit.
SCHOLIA_EXPORT CConfig* getConfig();
