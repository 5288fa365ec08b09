#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QString>
#include <QVariant>

// A variant stored in QDataStream form, as QSettings writes "@Variant(...)"
// and "@DateTime(...)" values, decoded by QVariant's own stream operator,
// but only once the data has been walked the way that operator reads it:
// the operator believes whatever length the data claims and reserves memory
// for a list of two thousand million elements as readily as for two.
class StoredVariant
{
public:
    // The value, or an invalid one with err set to why the data is refused:
    // a list or map claiming more elements than its bytes can hold, nesting
    // too deep for the stack, or a type no project stores. Data that is
    // merely cut short or of an unknown type decodes as QVariant decodes it.
    static QVariant decode(const QByteArray &data, QDataStream::Version version, QString &err);
};
