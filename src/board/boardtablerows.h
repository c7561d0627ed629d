// Builders shared by the board table's per-family row lists. Internal to the
// board module: only initBoardType() calls the append functions, in order.
#pragma once

#include "board/boardhardwareinfo.h"

namespace boardtable {

// A record with the values every row of a family shares: SoC, vendor,
// maker, the kernel's hardware key, interface names. Not yet in the table.
BoardHardwareInfo *fresh(const char *cpu, const char *vendor, const char *maker,
                         const char *hardwareKey);
// Sets the identity of a model: name, key, kernel revision, summary.
void identify(BoardHardwareInfo *b, const char *name, const char *key, int revision,
              const char *summary);
// A variant of an earlier row made with BoardHardwareInfo::newOne.
BoardHardwareInfo *variant(BoardHardwareInfo *source, const char *name, int revision,
                           const char *summary);
// Appends to gAllBoardHardwareInfo, which owns the record from then on.
void add(BoardHardwareInfo *b);

// The family lists, appended by initBoardType() in this order.
void appendSamsungRows();
void appendRockchipRows();
void appendAllwinnerRows();
void appendOtherRows();

} // namespace boardtable
