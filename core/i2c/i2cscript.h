#pragma once

#include "i2ctypes.h"
#include "panelcore_global.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>
#include <QStringList>

// The I2C script language: one command per line, tokens separated by spaces
// or tabs. Validation (canParseScript) and execution (compileLine) share one
// parser, so a line runs exactly as it was checked: trimmed, keywords and
// "null" matched without regard to case, byte arguments decoded the same way.
// Everything here is stateless and safe to call from any thread.
namespace I2cScript {

// Keywords
inline constexpr QLatin1StringView i2c_comment{"#"};
inline constexpr QLatin1StringView i2c_wait_ms{"wait_ms"};
inline constexpr QLatin1StringView i2c_read_bulk{"read_bulk"};
inline constexpr QLatin1StringView i2c_write_bulk{"write_bulk"};
inline constexpr QLatin1StringView i2c_read_reg{"read_register"};
inline constexpr QLatin1StringView i2c_write_reg{"write_register"};
inline constexpr QLatin1StringView i2c_write_bytes{"write_bytes"};
inline constexpr QLatin1StringView i2c_pmbus_send_byte{"pmbus_send_byte"};
inline constexpr QLatin1StringView i2c_pmbus_write_byte{"pmbus_write_byte"};
inline constexpr QLatin1StringView i2c_pmbus_read_byte{"pmbus_read_byte"};
inline constexpr QLatin1StringView i2c_pmbus_write_word{"pmbus_write_word"};
inline constexpr QLatin1StringView i2c_pmbus_read_word{"pmbus_read_word"};
inline constexpr QLatin1StringView i2c_pmbus_write_block{"pmbus_write_block"};
inline constexpr QLatin1StringView i2c_pmbus_read_block{"pmbus_read_block"};

// Line templates for QString(...).arg(...)
inline constexpr QLatin1StringView i2c_comment_f{"# %1"};
inline constexpr QLatin1StringView i2c_wait_ms_f{"wait_ms %1"};
inline constexpr QLatin1StringView i2c_read_bulk_f{"read_bulk %1 %2 %3"};
inline constexpr QLatin1StringView i2c_write_bulk_f{"write_bulk %1 %2 %3"};
inline constexpr QLatin1StringView i2c_read_reg_f{"read_register %1 %2"};
inline constexpr QLatin1StringView i2c_write_reg_f{"write_register %1 %2"};
inline constexpr QLatin1StringView i2c_write_bytes_f{"write_bytes %1"};
inline constexpr QLatin1StringView i2c_pmbus_send_byte_f{"pmbus_send_byte %1"};
inline constexpr QLatin1StringView i2c_pmbus_write_byte_f{"pmbus_write_byte %1 %2"};
inline constexpr QLatin1StringView i2c_pmbus_read_byte_f{"pmbus_read_byte %1"};
inline constexpr QLatin1StringView i2c_pmbus_write_word_f{"pmbus_write_word %1 %2"};
inline constexpr QLatin1StringView i2c_pmbus_read_word_f{"pmbus_read_word %1"};
inline constexpr QLatin1StringView i2c_pmbus_write_block_f{"pmbus_write_block %1 %2 %3"};
inline constexpr QLatin1StringView i2c_pmbus_read_block_f{"pmbus_read_block %1 %2"};

// A regular expression: one space or one tab.
inline constexpr QLatin1StringView i2c_token_seperators{"[ \t]"};
// Stands for "no data" in write_bulk.
inline constexpr QLatin1StringView i2c_no_parameter{"null"};
// Separates lines where a script travels as one text.
inline constexpr QLatin1StringView script_eol{";"};

// One line, ready to execute. Only the fields of its kind are meaningful.
struct PANELCORE_EXPORT ScriptLine
{
    enum Kind { Skip, Comment, WaitMs, ReadBulk, WriteBulk, ReadRegister, WriteRegister, Pmbus };

    Kind kind = Skip;
    QString comment;           // Comment: the tokens joined by single spaces
    unsigned int waitMs = 0;   // WaitMs: at least 1000
    QByteArray regAddr;        // ReadBulk, WriteBulk, ReadRegister, WriteRegister (empty for write_bytes)
    QByteArray command;        // ReadBulk, WriteBulk
    unsigned short bulkSize = 0;  // ReadBulk
    QByteArray data;           // WriteBulk (empty for "null"), WriteRegister
    unsigned int packetDelay = 0; // WriteBulk
    signed char readSize = 0;  // ReadRegister
    PmbusCommand pmbus;        // Pmbus
};

// The line split at spaces and tabs, empty parts dropped; nothing else is
// trimmed or changed.
PANELCORE_EXPORT QStringList parseScriptLine(const QString &line);

// Checks every line and appends one message per fault found ("... on line N
// (text)\n"); true when err stays empty. Lines that pass may still be skipped
// when run (a wait_ms without a value).
PANELCORE_EXPORT bool canParseScript(QString &err, const QStringList &lines);

// A byte argument as bytes, most significant first: one leading "0x"/"0X"
// is dropped, digits pair from the end, and an odd leading digit is a byte
// of its own (123 gives 01 23). Other non-hex characters are skipped here;
// validation rejects them.
PANELCORE_EXPORT QByteArray bytesFromToken(const QString &token);
// Whether bytesFromToken() takes the token whole: hex digits after at most
// one "0x". A bare "0x" is not a number either.
PANELCORE_EXPORT bool isHexToken(const QString &token);

// What the executor does for one line. Empty, short and unknown lines are
// Skip; nothing is rejected here, that is canParseScript's job.
PANELCORE_EXPORT ScriptLine compileLine(const QString &line);

} // namespace I2cScript
