// Fuzzes the image rules on arbitrary bytes: kernel validity, checksum and stamping,
// program validity, checksum and sealing, and the stored-program length rule with
// arbitrary program headers and file tables.
#include "hCodeMemory.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t selector = data[0];
    const bool xa = selector & 1;
    static const int offsets[] = {0, KernelHeaderOffsetXA, KernelHeaderOffsetARM};
    const int offset = offsets[(selector >> 1) % 3];
    const QByteArray image(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QDateTime moment(QDate(2026, 12, 10), QTime(8, 30, 4));

    // Kernel rules.
    (void)ReadKernelHeader(image, offset);
    (void)KernelChecksum(image, offset);
    if (IsValidKernel(image, offset)) {
        QByteArray stamped = image;
        StampKernel(stamped, moment, offset);
        const TKernelHeader header = ReadKernelHeader(stamped, offset);
        // Stamping keeps a valid kernel valid, records its length and a checksum that holds.
        if (!IsValidKernel(stamped, offset) || header.ImageSize != uint32_t(stamped.size()) ||
            header.Checksum != KernelChecksum(stamped, offset))
            std::abort();
    }

    // Program rules.
    (void)ProgramChecksum(image, xa);
    if (IsValidProgram(image, xa)) {
        QByteArray sealedImage = image, headerStream;
        SealProgram(sealedImage, headerStream, xa, moment);
        if (headerStream.size() < SealedHeaderSize || sealedImage.size() != image.size())
            std::abort();
        // What a controller holds after a send: the body, then the sealed header over it.
        QByteArray stored = sealedImage;
        SetProgramHeader(stored, headerStream.left(SealedHeaderSize));
        if (!IsValidProgram(sealedImage, xa) || !IsValidProgram(stored, xa) || stored.mid(16) != image.mid(16))
            std::abort();
    }

    // Stored-program length with the bytes as header and the rest as controller memory.
    const TProgramHeader header = ProgramHeaderFromBytes(image);
    const TMemoryReader reader = [&image](uint32_t address, uint32_t length, QByteArray& out) {
        if (length > 1u << 20)
            return false;
        out = image.mid(address % (image.size() + 1), length);
        out.resize(length, '\0');
        return true;
    };
    (void)StoredProgramLengthOf(header, xa, reader);
    return 0;
}
