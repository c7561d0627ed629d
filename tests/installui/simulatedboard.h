// A board from scripts/make-sim-board.sh, identified, with the recording
// stand-ins of scripts/sim-tools first on PATH; QString in and out.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "support/qt/simboard.h"

class SimulatedBoard : public testsupport::SimBoard
{
public:
    // `options` go to make-sim-board.sh ("--board allwinner --sets none").
    explicit SimulatedBoard(const QString &options);

    bool ok() const { return m_ok; }
    QString root() const { return QString::fromStdString(SimRoot::path()); }
    QString path(const QString &rel) const { return root() + QLatin1Char('/') + rel; }
    void put(const QString &rel, const QByteArray &content) const { SimRoot::put(rel.toStdString(), content.toStdString()); }
    // The tool stand-ins' calls, one "tool args" line each.
    QStringList toolCalls() const;
    // Adds a USB drive (sdX) below a USB host with a product text.
    void addUsbDrive(const QString &name, const QString &product, int mib) const;
    // The sets of tests/ui/make-scan-tree.sh, with its USB drive if `withUDisk`.
    bool addScanTree(bool withUDisk = true) const;
    // Runs a shell command line with the board's root in $ROOT; true on exit 0.
    bool sh(const QString &commandLine) const;

    static QString sourceDir() { return QStringLiteral(IMGSMITH_SOURCE_DIR); }

private:
    bool m_ok = false;
};
