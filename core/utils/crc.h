#pragma once

#include "panelcore_global.h"

// Checksums shared by the bus layer and the firmware-image tools. They are
// plain functions on raw buffers so that adapter code can call them without
// going through Qt containers. All of them are reentrant.

// CRC-8, polynomial 0x07, MSB first, no reflection, no final XOR. Started
// from 0 this is the SMBus/PMBus packet error code. Continues from crc, so a
// message can be fed in pieces; a non-positive length returns crc.
PANELCORE_EXPORT unsigned char CRC8(unsigned char crc, int length, const unsigned char *data);

// The same CRC-8 from 0, computed with a 16-bit shift register.
PANELCORE_EXPORT unsigned char CalculateBlockCRC8(int length, const unsigned char *data);

// CRC-32, polynomial 0x04C11DB7, over whole 32-bit words, MSB first, no
// reflection, no final XOR. Folds one word into *crc.
PANELCORE_EXPORT void CRC32Value(unsigned int *crc, unsigned int word);

// CRC-32 of count words, starting from 0xFFFFFFFF.
PANELCORE_EXPORT unsigned int CalculateBlockCRC32(unsigned int count, unsigned int *words);
