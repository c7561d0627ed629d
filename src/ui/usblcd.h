// Driver of the LCD2USB character display (USB 0x0403:0xC630): HD44780
// commands and data carried in vendor control requests, two keys, contrast
// and brightness. One display per process. Every sequence of calls that
// belongs together (a whole screen, one key query) runs under mUSBLCDMutex,
// because the GUI thread writes while the key thread polls.
#pragma once

#include <QMutex>

// Request codes: bits 5-7 the function, bits 3-4 the controllers, bits 0-2
// the byte count minus one.
enum {
    LCD_ECHO = 0x00,
    LCD_CMD = 0x20,
    LCD_DATA = 0x40,
    LCD_SET_CONTRAST = 0x60,
    LCD_SET_BRIGHTNESS = 0x68,
    LCD_GET_FWVER = 0x80,
    LCD_GET_KEYS = 0x88,
    LCD_GET_CTRL = 0x90,
    LCD_CTRL_0 = 0x08,
    LCD_CTRL_1 = 0x10,
    LCD_BOTH = 0x18,
};

extern QMutex mUSBLCDMutex;

// 0 when a display was found, opened and set up; -1 otherwise.
int init_usblcd();
void release_usblcd();

// One vendor OUT request; 1 when it failed, else 0.
int lcd_send(int request, int value, int index);
// Bytes of one request type are packed four to a request.
void lcd_enqueue(int command_type, int value);
void lcd_flush();
void lcd_command(unsigned char ctrl, unsigned char cmd);
void lcd_clear();
void lcd_home();
// Data bytes to controller 0, then flushed.
void lcd_write(const char *data);
// 16-bit answer of an IN request (low byte first), or -1.
int lcd_get(unsigned char cmd);
void lcd_set(unsigned char cmd, int value);
void lcd_set_contrast(int value);
void lcd_set_brightness(int value);
// 1 when key 0 is down, else 2 when key 1 is down, else 0 (also on failure).
int is_key_pressed();

// Diagnostics on standard output.
void lcd_echo();
void lcd_get_version();
void lcd_get_controller();
void lcd_get_keys();
