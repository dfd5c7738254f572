// RecordBytes: the controllers' records as bytes, little-endian, field after field from the
// record's first byte. No record is ever laid over memory as a struct, so its fields are
// ordinary, aligned members and the bytes do not depend on the compiler's layout.
//
// Each record lists its fields once, in order, as a function of the record and a field
// handler: (record, field) { field(record.A); field(record.B); ... }. The same list reads
// the record (TRecordReader), writes it (TRecordWriter) and counts its bytes (FieldBytes,
// checked against the record's size constant at compile time).
#pragma once

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <concepts>
#include <cstdint>

// size bytes of bytes from offset on; those outside bytes read as 0.
inline QByteArray BytesAt(const QByteArray& bytes, int offset, int size)
{
    QByteArray out(std::max(size, 0), '\0');
    if (offset >= 0 && offset < bytes.size())
        std::copy_n(bytes.constData() + offset, std::min<qsizetype>(out.size(), bytes.size() - offset), out.data());
    return out;
}

class TRecordReader {
public:
    TRecordReader(const QByteArray& bytes, int offset, int size) : FBytes(BytesAt(bytes, offset, size)) {}

    template <std::integral T>
    void operator()(T& field)
    {
        field = qFromLittleEndian<T>(FBytes.constData() + FAt);
        FAt += int(sizeof field);
    }
    template <size_t N>
    void operator()(std::array<uint8_t, N>& field)
    {
        std::copy_n(FBytes.constData() + FAt, N, field.begin());
        FAt += int(N);
    }

private:
    QByteArray FBytes;
    int FAt = 0;
};

class TRecordWriter {
public:
    template <std::integral T>
    void operator()(T field)
    {
        char bytes[sizeof field];
        qToLittleEndian<T>(field, bytes);
        Bytes.append(bytes, qsizetype(sizeof field));
    }
    template <size_t N>
    void operator()(const std::array<uint8_t, N>& field)
    {
        Bytes.append(reinterpret_cast<const char*>(field.data()), qsizetype(N));
    }

    QByteArray Bytes;
};

template <typename Record, typename Fields>
Record ReadRecord(const QByteArray& bytes, int offset, int size, Fields fields)
{
    Record record;
    TRecordReader reader(bytes, offset, size);
    fields(record, reader);
    return record;
}

template <typename Record, typename Fields>
QByteArray WriteRecord(const Record& record, Fields fields)
{
    TRecordWriter writer;
    fields(record, writer);
    return writer.Bytes;
}

template <typename Record, typename Fields>
constexpr int FieldBytes(Fields fields)
{
    Record record{};
    int total = 0;
    fields(record, [&total](const auto& field) { total += int(sizeof field); });
    return total;
}
