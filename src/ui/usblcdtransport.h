// The seam under the USB LCD driver: finding and opening the display, and the
// two kinds of vendor control transfer it answers. Production uses libusb-1.0;
// tests install a model of the display.
#pragma once

#include <cstdint>

class usblcd_transport
{
public:
    virtual ~usblcd_transport() = default;

    // Looks for the display and opens it: 0 when one is open afterwards,
    // -1 otherwise. Any display opened before is closed first.
    virtual int open_device() = 0;
    virtual void close_device() = 0;
    virtual bool is_open() const = 0;

    // Control transfers without data stage (OUT) and with a data stage read
    // from the device (IN). Both return the number of bytes transferred or a
    // negative libusb error code; time-outs are in milliseconds.
    virtual int control_out(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                            unsigned timeout_ms) = 0;
    virtual int control_in(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                           unsigned char *data, uint16_t length, unsigned timeout_ms) = 0;
};

// Replaces the transport for the whole process; nullptr restores libusb.
// Returns the previous one (nullptr when it was libusb). Call it only while
// no thread uses the display.
usblcd_transport *usblcd_set_transport(usblcd_transport *transport);

// The transport in use.
usblcd_transport *usblcd_current_transport();
