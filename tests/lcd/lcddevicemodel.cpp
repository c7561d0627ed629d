#include "lcddevicemodel.h"

#include <libusb.h>

#include <cstring>

namespace {
const uint8_t kRowStart[4] = {0x00, 0x28, 0x14, 0x54};
const int kRowCells = 20;
const uint16_t kFirmwareVersion = 0x0109;   // 1.9
} // namespace

void LcdDeviceModel::Hd44780::command(uint8_t byte)
{
    if (byte & 0x80) {
        address = byte & 0x7F;
        toCgram = false;
    } else if (byte & 0x40) {
        address = byte & 0x3F;
        toCgram = true;
    } else if (byte & 0x30) {
        // function set or shift: nothing visible changes, this display is never shifted
    } else if (byte & 0x08) {
        displayOn = byte & 0x04;
    } else if (byte & 0x04) {
        increment = byte & 0x02;
    } else if (byte & 0x02) {
        address = 0;
        toCgram = false;
    } else if (byte & 0x01) {
        memset(ddram, ' ', sizeof ddram);
        address = 0;
        increment = true;
        toCgram = false;
    }
}

void LcdDeviceModel::Hd44780::data(uint8_t byte)
{
    if (!toCgram)
        ddram[address & 0x7F] = byte;
    address = (address + (increment ? 1 : -1)) & (toCgram ? 0x3F : 0x7F);
}

QStringList LcdDeviceModel::rows() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QStringList result;
    for (uint8_t start : kRowStart)
        result << QString::fromLatin1(reinterpret_cast<const char *>(m_controller[0].ddram) + start,
                                      kRowCells);
    return result;
}

QStringList LcdDeviceModel::shownLines() const
{
    QStringList lines;
    for (const QString &row : rows()) {
        QString line = row;
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        lines << line;
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QByteArray LcdDeviceModel::ddram(int controller) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QByteArray(reinterpret_cast<const char *>(m_controller[controller].ddram),
                      sizeof m_controller[controller].ddram);
}

bool LcdDeviceModel::displayOn(int controller) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_controller[controller].displayOn;
}

std::vector<LcdDeviceModel::Transfer> LcdDeviceModel::transfers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_transfers;
}

void LcdDeviceModel::clearTransfers()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transfers.clear();
}

void LcdDeviceModel::setKeys(std::initializer_list<uint8_t> bitsPerQuery)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keyScript.assign(bitsPerQuery.begin(), bitsPerQuery.end());
}

int LcdDeviceModel::open_device()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = plugged;
    return m_open ? 0 : -1;
}

void LcdDeviceModel::close_device()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = false;
}

bool LcdDeviceModel::is_open() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

int LcdDeviceModel::control_out(uint8_t request_type, uint8_t request, uint16_t value,
                                uint16_t index, unsigned timeout_ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transfers.push_back({request_type, request, value, index, 0, timeout_ms});
    if (!m_open || !plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    if (request_type != 0x40)
        return LIBUSB_ERROR_PIPE;
    const uint8_t function = request & 0xE0;
    const uint8_t selector = request & 0x18;
    if (function == 0x60) {
        if (selector == 0x00)
            contrast = value;
        else if (selector == 0x08)
            brightness = value;
        else
            return LIBUSB_ERROR_PIPE;
        return 0;
    }
    if (function != 0x20 && function != 0x40)
        return LIBUSB_ERROR_PIPE;
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(index), uint8_t(index >> 8)};
    const int count = (request & 0x07) + 1;
    if (count > 4)
        return 0;   // the firmware ignores counts it cannot carry
    for (int c = 0; c < 2; ++c) {
        if (!(selector & (0x08 << c)) || !(controllers & (1 << c)))
            continue;
        for (int i = 0; i < count; ++i) {
            if (function == 0x20)
                m_controller[c].command(bytes[i]);
            else
                m_controller[c].data(bytes[i]);
        }
    }
    return 0;
}

int LcdDeviceModel::control_in(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
                               unsigned char *data, uint16_t length, unsigned timeout_ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transfers.push_back({request_type, request, value, index, length, timeout_ms});
    if (!m_open || !plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    if (request_type != 0xC0)
        return LIBUSB_ERROR_PIPE;
    uint16_t answer;
    if (request == 0x00) {
        answer = value;
    } else if (request == 0x80) {
        answer = kFirmwareVersion;
    } else if (request == 0x88) {
        ++keyQueries;
        if (!m_keyScript.empty()) {
            m_keys = m_keyScript.front();
            m_keyScript.pop_front();
        }
        answer = m_keys;
    } else if (request == 0x90) {
        answer = controllers;
    } else {
        return LIBUSB_ERROR_PIPE;
    }
    const uint16_t n = length < 2 ? length : 2;
    const unsigned char bytes[2] = {uint8_t(answer), uint8_t(answer >> 8)};
    memcpy(data, bytes, n);
    return n;
}
