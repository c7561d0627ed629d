// LCD2USB driver over the transport seam (libusb-1.0 unless a test installed
// a model).
#include "ui/usblcd.h"

#include "ui/usblcdtransport.h"
#include "util/debugmode.h"

#include <cstdio>
#include <random>

QMutex mUSBLCDMutex;

namespace {

const uint8_t kVendorOut = 0x40;   // vendor, device, host to device
const uint8_t kVendorIn = 0xC0;    // vendor, device, device to host
const unsigned kTimeoutMs = 1000;
const int kEchoTransfers = 100;

unsigned char buffer[4];
int buffer_current_fill = 0;
int buffer_current_type = -1;   // -1: nothing waits

void reset_buffer()
{
    buffer_current_fill = 0;
    buffer_current_type = -1;
}

} // namespace

int init_usblcd()
{
    usblcd_transport *transport = usblcd_current_transport();
    reset_buffer();
    if (transport->open_device() != 0) {
        if (gLCD4USBDebug)
            fprintf(stderr, "Error: Could not find LCD2USB device: (VID: 0x%04X, PID: 0x%04X)\n",
                    0x0403, 0xC630);
        return -1;
    }
    lcd_echo();
    lcd_get_version();
    lcd_get_controller();
    lcd_get_keys();
    lcd_set_contrast(200);
    lcd_set_brightness(255);
    lcd_command(LCD_BOTH, 0x0C);   // display on, cursor off, blink off
    lcd_clear();
    lcd_flush();
    return 0;
}

void release_usblcd()
{
    // Bytes still waiting belong to the display being closed; they must not
    // prefix the first request to the next one.
    reset_buffer();
    usblcd_current_transport()->close_device();
}

int lcd_send(int request, int value, int index)
{
    const int rc = usblcd_current_transport()->control_out(
        kVendorOut, static_cast<uint8_t>(request), static_cast<uint16_t>(value),
        static_cast<uint16_t>(index), kTimeoutMs);
    if (rc < 0) {
        if (gLCD4USBDebug)
            fprintf(stderr, "USB request 0x%02X failed: %d\n", request & 0xFF, rc);
        return 1;
    }
    return 0;
}

void lcd_flush()
{
    if (buffer_current_type == -1)
        return;
    // Bytes beyond the count are stale; the count in the request tells the
    // device to ignore them.
    lcd_send(buffer_current_type | (buffer_current_fill - 1), buffer[0] | (buffer[1] << 8),
             buffer[2] | (buffer[3] << 8));
    reset_buffer();
}

void lcd_enqueue(int command_type, int value)
{
    if (buffer_current_type >= 0 && buffer_current_type != command_type)
        lcd_flush();
    buffer_current_type = command_type;
    buffer[buffer_current_fill++] = static_cast<unsigned char>(value);
    if (buffer_current_fill == static_cast<int>(sizeof buffer))
        lcd_flush();
}

void lcd_command(unsigned char ctrl, unsigned char cmd)
{
    lcd_enqueue(LCD_CMD | ctrl, cmd);
}

void lcd_clear()
{
    lcd_enqueue(LCD_CMD | LCD_BOTH, 0x01);
    lcd_enqueue(LCD_CMD | LCD_BOTH, 0x03);
}

void lcd_home()
{
    lcd_enqueue(LCD_CMD | LCD_BOTH, 0x03);
}

void lcd_write(const char *data)
{
    for (const char *p = data; *p; ++p)
        lcd_enqueue(LCD_DATA | LCD_CTRL_0, static_cast<unsigned char>(*p));
    lcd_flush();
}

int lcd_get(unsigned char cmd)
{
    usblcd_transport *transport = usblcd_current_transport();
    if (!transport->is_open()) {
        fprintf(stderr, "%s: handle is NULL\n", __func__);
        return -1;
    }
    unsigned char answer[2] = {0, 0};
    const int rc = transport->control_in(kVendorIn, cmd, 0, 0, answer, sizeof answer, kTimeoutMs);
    // A short answer is as useless as none: the missing byte would read as 0.
    if (rc != static_cast<int>(sizeof answer)) {
        if (gLCD4USBDebug)
            fprintf(stderr, "USB request 0x%02X failed: %d\n", cmd, rc);
        return -1;
    }
    return answer[0] | (answer[1] << 8);
}

void lcd_set(unsigned char cmd, int value)
{
    lcd_send(cmd, value, 0);
}

void lcd_set_contrast(int value)
{
    lcd_set(LCD_SET_CONTRAST, value);
}

void lcd_set_brightness(int value)
{
    lcd_set(LCD_SET_BRIGHTNESS, value);
}

int is_key_pressed()
{
    const int keys = lcd_get(LCD_GET_KEYS);
    if (keys < 0)
        return 0;
    if (keys & 1)
        return 1;
    if (keys & 2)
        return 2;
    return 0;
}

void lcd_echo()
{
    usblcd_transport *transport = usblcd_current_transport();
    std::minstd_rand random(std::random_device{}());
    int errors = 0;
    for (int i = 0; i < kEchoTransfers; ++i) {
        const uint16_t value = static_cast<uint16_t>(random());
        unsigned char answer[2] = {0, 0};
        const int rc = transport->control_in(kVendorIn, LCD_ECHO, value, 0, answer, sizeof answer,
                                             kTimeoutMs);
        if (rc != static_cast<int>(sizeof answer) || (answer[0] | (answer[1] << 8)) != value)
            ++errors;
    }
    if (errors)
        fprintf(stderr, "ERROR: %d out of %d echo transfers failed!\n", errors, kEchoTransfers);
    else
        printf("Echo test successful!\n");
    fflush(stdout);
}

void lcd_get_version()
{
    const int version = lcd_get(LCD_GET_FWVER);
    if (version >= 0) {
        printf("Firmware version %d.%d\n", version >> 8, version & 0xFF);
        fflush(stdout);
    }
}

void lcd_get_controller()
{
    const int controllers = lcd_get(LCD_GET_CTRL);
    if (controllers < 0)
        return;
    if (controllers)
        printf("Installed controllers: %s%s\n", (controllers & 1) ? "CTRL0" : "",
               (controllers & 2) ? " CTRL1" : "");
    else
        printf("No controllers installed!\n");
    fflush(stdout);
}

void lcd_get_keys()
{
    const int keys = lcd_get(LCD_GET_KEYS);
    if (keys >= 0) {
        printf("Keys: 0:%s 1:%s\n", (keys & 1) ? "on" : "off", (keys & 2) ? "on" : "off");
        fflush(stdout);
    }
}
