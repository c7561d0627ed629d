// A simulated board for the widget tests, made once per test program by
// make-sim-board.sh and make-scan-tree.sh, with the board identified.
#pragma once

#include <QString>
#include <QStringList>

namespace uitest {

// Builds the board below a fresh temporary directory, points IMGSMITH_ROOT
// at it and identifies the board. Call before the first widget is made.
// `withUDisk`: the scan tree's USB drive (a copied root file system) is
// mounted.
void setUpBoard(bool withUDisk = true);
QString root();
// Runs a shell command line with the board's root in $ROOT; true on exit 0.
bool sh(const QString &commandLine);

// The sets the scan tree offers, in display order.
QStringList expectedScanOrder();

} // namespace uitest
