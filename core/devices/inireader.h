#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <utility>

// Reads the INI notation that QSettings writes, and what people write by
// hand in it, without QSettings: files that come from elsewhere must not be
// able to make the program reserve memory their content does not justify.
// QSettings decodes a stored variant ("@Variant(...)") as whatever its data
// claims, a list of two thousand million elements included; this reader
// refuses a value whose data claims more than it holds or a type a project
// never stores, and otherwise decodes every value exactly as QSettings does.
//
// Keys come back as QSettings names them: "section/key" for a key of
// "[section]", a bare key for one before any section or in "[General]".
class IniReader
{
public:
    using Entries = QList<std::pair<QString, QVariant>>;

    // Appends every key of content with its value to entries, in the order
    // of the file: where a key comes twice, the later one is its value.
    // Returns the error text, empty on success; on failure entries holds
    // what was read before.
    [[nodiscard]] static QString read(const QByteArray &content, Entries &entries);
};
