// The display over libusb-1.0: the device walk and the two control transfers.
#include "ui/usblcdtransport.h"

#include "util/debugmode.h"

#include <libusb.h>

#include <cstdio>
#include <set>

namespace {

const uint16_t kVendorId = 0x0403;
const uint16_t kProductId = 0xC630;

class LibusbLcdTransport : public usblcd_transport
{
public:
    int open_device() override
    {
        close_device();
        if (!m_context && libusb_init(&m_context) != 0) {
            m_context = nullptr;
            return -1;
        }
        libusb_device **list = nullptr;
        const ssize_t count = libusb_get_device_list(m_context, &list);
        if (count < 0)
            return -1;
        // One candidate per bus, the first on it; a display opened on a later
        // bus replaces one opened earlier.
        std::set<uint8_t> bussesDone;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device *device = list[i];
            const uint8_t bus = libusb_get_bus_number(device);
            libusb_device_descriptor descriptor;
            if (bussesDone.count(bus) || libusb_get_device_descriptor(device, &descriptor) != 0)
                continue;
            if (descriptor.idVendor != kVendorId || descriptor.idProduct != kProductId)
                continue;
            bussesDone.insert(bus);
            printf("Found LCD2USB device on bus %03u device %03u.\n", bus,
                   libusb_get_device_address(device));
            fflush(stdout);
            libusb_device_handle *opened = nullptr;
            const int rc = libusb_open(device, &opened);
            if (rc != 0) {
                if (gLCD4USBDebug)
                    fprintf(stderr, "Error: Cannot open USB device: %s\n", libusb_strerror(rc));
                continue;
            }
            if (m_handle)
                libusb_close(m_handle);
            m_handle = opened;
        }
        libusb_free_device_list(list, 1);
        return m_handle ? 0 : -1;
    }

    void close_device() override
    {
        if (m_handle)
            libusb_close(m_handle);
        m_handle = nullptr;
    }

    bool is_open() const override { return m_handle != nullptr; }

    int control_out(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                    unsigned timeout_ms) override
    {
        if (!m_handle)
            return LIBUSB_ERROR_NO_DEVICE;
        return libusb_control_transfer(m_handle, request_type, request, value, index, nullptr, 0,
                                       timeout_ms);
    }

    int control_in(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                   unsigned char *data, uint16_t length, unsigned timeout_ms) override
    {
        if (!m_handle)
            return LIBUSB_ERROR_NO_DEVICE;
        return libusb_control_transfer(m_handle, request_type, request, value, index, data, length,
                                       timeout_ms);
    }

private:
    // The context lives as long as the process: the display is reopened on
    // every hot-plug notice, and libusb's own threads need not be restarted.
    libusb_context *m_context = nullptr;
    libusb_device_handle *m_handle = nullptr;
};

LibusbLcdTransport g_libusb;
usblcd_transport *g_transport = nullptr;

} // namespace

usblcd_transport *usblcd_set_transport(usblcd_transport *transport)
{
    usblcd_transport *previous = g_transport;
    g_transport = transport;
    return previous;
}

usblcd_transport *usblcd_current_transport()
{
    return g_transport ? g_transport : &g_libusb;
}
