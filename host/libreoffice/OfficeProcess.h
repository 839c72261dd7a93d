#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// A running office that this program may talk to and ask to open its pipe:
// a process of this user (real and effective uid) on this machine whose
// program is soffice.bin.
struct OfficeProcess
{
    qint64 pid = 0;
    // The soffice to run for the office: the one beside its soffice.bin when
    // that folder, every folder above it and the file belong to root and only
    // root may change them; else soffice from PATH. Empty when there is none.
    QString soffice;
    // The office's -env:UserInstallation=… option (an office with a profile
    // of its own only hears calls naming it); empty when it has none.
    QString profileOption;

    // The office process pid; nothing when pid is not a soffice.bin of this
    // user, or when its profile is not a file:// folder that this user owns
    // (such an office is not asked: the call would reach another office, or
    // start one).
    static std::optional<OfficeProcess> find(qint64 pid);

    // Whether pid is a soffice.bin of this user (the profile not looked at).
    static bool isOwnOffice(qint64 pid);

    // Whether path and every folder above it belong to root and may be
    // changed by root alone (a sticky folder open to all does not count).
    static bool isRootOwned(const QString& path);
    // Whether option is -env:UserInstallation=file://… naming a folder (not a
    // link) that this user owns.
    static bool isOwnProfileOption(const QByteArray& option);
};
