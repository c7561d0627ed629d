// The main controller's board services: each slot hands the work to the
// class that holds it.
#include "ui/tmainwidget.h"

#include "frontend/boardservices.h"
#include "frontend/rockchipvendorstorage.h"
#include "ui/boardserviceactions.h"

void TMainWidget::reCalcTFCardSize() { BoardServices::shared().reCalcTFCardSize(); }

void TMainWidget::reCalcTFCardAvailableSize() { BoardServices::shared().reCalcTFCardAvailableSize(); }

void TMainWidget::reNewCurrentOSInfo() { BoardServices::reNewCurrentOSInfo(); }

bool TMainWidget::isBoardUnableToReadPartition() { return BoardServices::isBoardUnableToReadPartition(); }

void TMainWidget::start1KeyBackup(bool showMessageBox) { BoardServiceActions::start1KeyBackup(this, showMessageBox); }

void TMainWidget::user1KeyBackupMenuItem() { start1KeyBackup(true); }

bool TMainWidget::dhcp(bool showError) { return BoardServiceActions::dhcp(this, showError); }

void TMainWidget::userClickSwitchEth0ToDHCPMenuItem()
{
    if (dhcp(true))
        messageBoxThenReboot();
}

void TMainWidget::messageBoxThenReboot() { BoardServiceActions::messageBoxThenReboot(this); }

void TMainWidget::dumpRockchipVendorStorage() { RockchipVendorStorage::dumpRockchipVendorStorage(); }

void TMainWidget::resetRK3399MacAddress() { RockchipVendorStorage::resetRK3399MacAddress(); }

void TMainWidget::resetRockchipUbootMacAddress() { RockchipVendorStorage::resetRockchipUbootMacAddress(); }
