// Driver of the USB character LCD (LCD2USB protocol, vendor 0x0403, product
// 0xC630): plain functions over one device per process. Every complete
// sequence of calls (clear, rows, flush; or one key query) is made with
// mUSBLCDMutex held, because the GUI thread and the key thread share it.
#pragma once

#include <QMutex>

extern QMutex mUSBLCDMutex;

// 0 when a display was found and opened, -1 otherwise.
int init_usblcd();
void release_usblcd();

int lcd_send(int request, int value, int index);
void lcd_enqueue(int type, int value);
void lcd_flush();
void lcd_command(unsigned char ctrl, unsigned char cmd);
void lcd_clear();
void lcd_home();
void lcd_write(const char *data);
int lcd_get(unsigned char cmd);
void lcd_set(unsigned char cmd, int value);
void lcd_set_contrast(int value);
void lcd_set_brightness(int value);
// 1 while key 0 is down, else 2 while key 1 is down, else 0.
int is_key_pressed();
void lcd_echo();
void lcd_get_version();
void lcd_get_controller();
void lcd_get_keys();
