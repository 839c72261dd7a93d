#pragma once

#include "ScholiaGlobal.h"

#include <QString>

#include <optional>

// Where the access token lives, out of the plain settings file: in the
// desktop's secret service (org.freedesktop.secrets, through QtKeychain) when
// one runs on the session bus, else in a file only this user may read
// (<config>/Quillet/private/access_token, mode 0600, in a folder of mode 0700).
// Nothing waits long for a secret service: the bus is asked with a time-out,
// and one that does not answer a request in time is not used again by this
// process (the file is used instead).
class SCHOLIA_EXPORT TokenStore
{
public:
    TokenStore();
    ~TokenStore();

    // The stored token (possibly empty, after a logout); nothing when none
    // was ever stored.
    std::optional<QString> read();
    // Stores token; false when it could be stored nowhere (it is then kept in
    // memory for this process only).
    bool write(const QString& token);

    // Whether the secret service is used (checked once per store).
    bool usesSecretService();
    // The file used without a secret service.
    static QString filePath();

    // How long a secret service may take to answer one request.
    static constexpr int kSecretServiceTimeout = 3000; // ms

private:
    std::optional<QString> readFile();
    bool writeFile(const std::optional<QString>& token);
    // False when the secret service did not answer; *token empty when it holds none.
    bool readSecret(std::optional<QString>* token);
    bool writeSecret(const QString& token);

    int m_secretService = -1; // -1 not yet known, 0 no, 1 yes
    bool m_loaded = false;
    std::optional<QString> m_token;
};
