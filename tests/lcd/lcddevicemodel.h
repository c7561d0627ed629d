// An LCD2USB display behind the USB LCD transport seam, for tests.
//
// It decodes every request the way the display does: the request type must be
// vendor OUT (0x40) without data or vendor IN (0xC0); bits 5-7 of the request
// pick the function, bits 3-4 the controllers, bits 0-2 the byte count minus
// one, and the bytes travel in wValue and wIndex, low byte first. Each
// controller is an HD44780 with 128 bytes of display memory and an address
// counter (clear, home, entry mode, display control, set DDRAM address;
// character memory writes are dropped).
// The four visible rows of 20 cells start at 0x00, 0x28, 0x14 and 0x54 of
// controller 0 (row commands 0x80, 0xA8, 0x94, 0xD4); everything else written
// is kept but not visible. Keys and unplugging are scriptable. Thread-safe:
// the key thread polls while a test scripts.
#pragma once

#include "ui/usblcdtransport.h"

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

class LcdDeviceModel : public usblcd_transport
{
public:
    struct Transfer
    {
        uint8_t requestType;
        uint8_t request;
        uint16_t value;
        uint16_t index;
        uint16_t length;
        unsigned timeoutMs;
    };

    // The four visible rows of controller 0, 20 characters each.
    QStringList rows() const;
    // The visible rows with trailing blanks removed and trailing empty rows
    // dropped: what a reader sees.
    QStringList shownLines() const;
    // Whole display memory of one controller (128 bytes).
    QByteArray ddram(int controller) const;
    bool displayOn(int controller) const;

    std::vector<Transfer> transfers() const;
    void clearTransfers();

    // Key bits (bit 0 key 0, bit 1 key 1) for the next key queries, one per
    // query; afterwards the last one stays.
    void setKeys(std::initializer_list<uint8_t> bitsPerQuery);

    std::atomic<int> keyQueries{0};
    // Unplugged: opening fails and every transfer fails with "no device".
    std::atomic<bool> plugged{true};
    std::atomic<uint8_t> controllers{0x01};   // bit 0: controller 0 installed
    std::atomic<int> contrast{-1};
    std::atomic<int> brightness{-1};

    int open_device() override;
    void close_device() override;
    bool is_open() const override;
    int control_out(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                    unsigned timeout_ms) override;
    int control_in(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                   unsigned char *data, uint16_t length, unsigned timeout_ms) override;

private:
    struct Hd44780
    {
        uint8_t ddram[128];
        uint8_t address = 0;
        bool toCgram = false;
        bool increment = true;
        bool displayOn = false;
        Hd44780();
        void command(uint8_t byte);
        void data(uint8_t byte);
    };

    mutable std::mutex m_mutex;
    Hd44780 m_controller[2];
    std::vector<Transfer> m_transfers;
    std::deque<uint8_t> m_keyScript;
    uint8_t m_keys = 0;
    bool m_open = false;
};

// Installs a transport for the scope and restores the previous one afterwards.
class LcdTransportGuard
{
public:
    explicit LcdTransportGuard(usblcd_transport *t) { m_previous = usblcd_set_transport(t); }
    ~LcdTransportGuard() { usblcd_set_transport(m_previous); }
    LcdTransportGuard(const LcdTransportGuard &) = delete;
    LcdTransportGuard &operator=(const LcdTransportGuard &) = delete;

private:
    usblcd_transport *m_previous;
};
