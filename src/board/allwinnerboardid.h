// The board id an Allwinner boot loader leaves in sysfs. Util::readAllwinnerBoardID
// forwards here.
#pragma once

#include <QString>

// The "sunxi_board_id" value of "/sys/class/sunxi_info/sys_info", simplified
// and lower-cased ("7(0)"); empty when the file cannot be read or has no such line.
QString readAllwinnerBoardID();
