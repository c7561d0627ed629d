// The production-line service that collects the boards' MAC addresses on a
// USB drive: a marker file at the drive's top asks for it, and every board
// booted with that drive adds one line "<cpu id>,<mac>,<mac>..." to
// "<board name>_mac_addresses.txt" once.
#pragma once

#include <QString>

class BoardHardwareInfo;

class MacAddressList
{
public:
    MacAddressList(const QString &drivePath, const BoardHardwareInfo &board);

    // A marker file asks for the list.
    bool isRequested() const;
    QString fileName() const;
    // The board's line.
    QString line() const;
    // Adds the line unless the CPU id is listed already; returns the message
    // for the user.
    QString save() const;

private:
    QString m_drivePath;
    const BoardHardwareInfo &m_board;
};
