// An LCD2USB display behind the transport seam, decoding requests as the
// firmware does onto two HD44780s; rows 0x00, 0x28, 0x14, 0x54 of controller
// 0 are visible. Thread-safe: the key thread polls while a test scripts.
#pragma once

#include "ui/usblcdtransport.h"

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

class LcdDeviceModel : public usblcd_transport
{
public:
    struct Transfer { uint8_t requestType, request; uint16_t value, index, length; unsigned timeoutMs; };

    // The four visible rows of controller 0, 20 characters each.
    QStringList rows() const;
    // What a reader sees: rows without trailing blanks or empty rows.
    QStringList shownLines() const;
    // Whole display memory of one controller (128 bytes).
    QByteArray ddram(int controller) const;
    bool displayOn(int controller) const;

    std::vector<Transfer> transfers() const;
    void clearTransfers();

    // Key bits (bit 0: key 0) for the next queries, one each; the last stays.
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
        uint8_t ddram[128], address = 0;
        bool toCgram = false, increment = true, displayOn = false;
        Hd44780() { memset(ddram, ' ', sizeof ddram); }
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
