#include "crc.h"

#include <cstdint>

unsigned char CRC8(unsigned char crc, int length, const unsigned char *data)
{
    if (!data)
        return crc;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? static_cast<unsigned char>((crc << 1) ^ 0x07)
                               : static_cast<unsigned char>(crc << 1);
    }
    return crc;
}

unsigned char CalculateBlockCRC8(int length, const unsigned char *data)
{
    // The polynomial sits one bit below the top of a 16-bit register
    // (0x07 << 7, plus the implicit x^8 term), so the shift that follows the
    // XOR lines it up with the byte being reduced in bits 8..15.
    std::uint16_t reg = 0;
    if (!data)
        return 0;
    for (int i = 0; i < length; ++i) {
        reg ^= static_cast<std::uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) {
            if (reg & 0x8000)
                reg ^= 0x8380;
            reg = static_cast<std::uint16_t>(reg << 1);
        }
    }
    return static_cast<unsigned char>(reg >> 8);
}

void CRC32Value(unsigned int *crc, unsigned int word)
{
    if (!crc)
        return;
    std::uint32_t reg = *crc ^ word;
    for (int bit = 0; bit < 32; ++bit)
        reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
    *crc = reg;
}

unsigned int CalculateBlockCRC32(unsigned int count, unsigned int *words)
{
    unsigned int crc = 0xFFFFFFFFu;
    if (!words)
        return crc;
    for (unsigned int i = 0; i < count; ++i)
        CRC32Value(&crc, words[i]);
    return crc;
}
