// Stands in for the USB LCD driver in builds without it: no display is ever
// found, so the controller never marks one present.
#include "ui/usblcd.h"

#include "util/log2file.h"

QMutex mUSBLCDMutex;

int init_usblcd()
{
    log2file("USB LCD: the driver is not available in this build\n");
    return -1;
}

void release_usblcd() {}
int lcd_send(int, int, int) { return 1; }
void lcd_enqueue(int, int) {}
void lcd_flush() {}
void lcd_command(unsigned char, unsigned char) {}
void lcd_clear() {}
void lcd_home() {}
void lcd_write(const char *) {}
int lcd_get(unsigned char) { return -1; }
void lcd_set(unsigned char, int) {}
void lcd_set_contrast(int) {}
void lcd_set_brightness(int) {}
int is_key_pressed() { return 0; }
void lcd_echo() {}
void lcd_get_version() {}
void lcd_get_controller() {}
void lcd_get_keys() {}
