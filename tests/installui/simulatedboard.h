// A simulated board made by scripts/make-sim-board.sh for the front-end
// tests: IMGSMITH_ROOT points at it, the board is identified anew, the
// recording stand-ins of scripts/sim-tools come first on PATH and log to
// toolLog().
#pragma once

#include <QString>
#include <QStringList>

#include <ostream>

#include "support/testsupport.h"

class SimulatedBoard
{
public:
    // `options` go to make-sim-board.sh ("--board allwinner --sets none").
    explicit SimulatedBoard(const QString &options);
    ~SimulatedBoard();

    bool ok() const { return m_ok; }
    QString root() const { return QString::fromStdString(m_dir.path()) + QStringLiteral("/board"); }
    QString path(const QString &rel) const { return root() + QLatin1Char('/') + rel; }
    void put(const QString &rel, const QByteArray &content) const;
    // The tool stand-ins' calls, one "tool args" line each.
    QStringList toolCalls() const;
    // Adds a USB drive (sdX) below a USB host with a product text.
    void addUsbDrive(const QString &name, const QString &product, int mib) const;
    // Lists a partition of the onboard storage in proc/partitions.
    void addPartitions(const QString &disk, int count) const;
    // The image sets of the scan tests (tests/ui/make-scan-tree.sh), with the
    // USB drive holding a copied root file system when `withUDisk`.
    bool addScanTree(bool withUDisk = true) const;
    // Runs a shell command line with the board's root in $ROOT; true on exit 0.
    bool sh(const QString &commandLine) const;

    static QString sourceDir();

private:
    testsupport::TempDir m_dir;
    bool m_ok = false;
    QByteArray m_oldPath;
};

// gtest prints QStrings as text.
void PrintTo(const QString &s, std::ostream *os);
