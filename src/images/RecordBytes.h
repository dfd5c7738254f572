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

// Reads fields from Size bytes at offset; those outside the source read as 0. The bytes are
// copied first, so that each field is read from within the record's own buffer.
template <int Size>
class TRecordReader {
public:
    TRecordReader(const QByteArray& bytes, int offset)
    {
        if (offset >= 0 && offset < bytes.size())
            std::copy_n(bytes.constData() + offset, std::min<qsizetype>(Size, bytes.size() - offset), FBytes.begin());
    }

    template <std::integral T>
    void operator()(T& field)
    {
        field = qFromLittleEndian<T>(FBytes.data() + FAt);
        FAt += int(sizeof field);
    }
    template <size_t N>
    void operator()(std::array<uint8_t, N>& field)
    {
        std::copy_n(FBytes.begin() + FAt, N, field.begin());
        FAt += int(N);
    }

private:
    std::array<uint8_t, Size> FBytes{};
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

template <typename Record, int Size, typename Fields>
Record ReadRecord(const QByteArray& bytes, int offset, Fields fields)
{
    Record record;
    TRecordReader<Size> reader(bytes, offset);
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
