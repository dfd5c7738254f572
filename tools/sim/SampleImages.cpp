#include "SampleImages.h"

#include "hCodeMemory.h"

#include <QDate>
#include <QTime>

#include <random>
#include <string_view>

namespace {

constexpr uint16_t Erased16 = 0xFFFF;
constexpr uint32_t Erased32 = 0xFFFFFFFF;

QByteArray ProgramWithHeader(int size, uint32_t seed, const TProgramHeader& header)
{
    QByteArray image = PseudoRandomBytes(std::max(size, ProgramHeaderSize), seed);
    image.replace(0, ProgramHeaderSize, ProgramHeaderToBytes(header));
    return image;
}

TProgramHeader ErasedProgramHeader(uint32_t programLength)
{
    TProgramHeader header;
    header.Marker = Erased16;
    header.Kind = Erased16;
    header.Checksum = Erased16;
    header.Reserved6 = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    header.TransferDate = Erased32;
    header.ProgramLength = programLength;
    header.ModbusAddress = 1;
    return header;
}

}   // namespace

QDateTime SampleMoment()
{
    return QDateTime(QDate(2024, 5, 17), QTime(10, 30, 0));
}

QByteArray PseudoRandomBytes(int size, uint32_t seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(std::max(size, 0), '\0');
    for (char& b : bytes)
        b = char(random() & 0xFF);
    return bytes;
}

QByteArray SampleKernel(uint16_t loaderMajor, int size)
{
    const bool xa = loaderMajor == 2;
    const int headerOffset = xa ? KernelHeaderOffsetXA : KernelHeaderOffsetARM;
    QByteArray image = PseudoRandomBytes(size, xa ? 2 : 3);
    TKernelHeader header = DefaultKernelHeader();
    header.VersionMajor = xa ? 2 : 3;
    header.VersionMinor = 1;
    (xa ? header.ReleaseXA : header.ReleaseARM) = 7;
    WriteKernelHeader(image, header, headerOffset);
    StampKernel(image, SampleMoment(), headerOffset);
    return image;
}

QByteArray SampleProgram(int size)
{
    const int length = std::max(size, ProgramHeaderSize);
    return ProgramWithHeader(length, 4, ErasedProgramHeader(uint32_t(length)));
}

QByteArray SampleXaFileProgram()
{
    constexpr int programLength = 12 * 1024;
    constexpr int fileLength = 4 * 1024;
    constexpr int tableOffset = 0x100;
    TProgramHeader header = ErasedProgramHeader(programLength);
    header.FileTableAddress = ProgramAddress + tableOffset;
    header.FileCount = 2;
    QByteArray image = ProgramWithHeader(programLength + 2 * fileLength, 5, header);

    constexpr std::string_view names[] = {"recipes.csv", "setup.ini"};
    for (int i = 0; i < 2; ++i) {
        TProgramFileEntry entry;
        std::copy(names[i].begin(), names[i].end(), entry.Reserved0.begin());
        entry.FileAddress = ProgramAddress + programLength + i * fileLength;
        entry.FileLength = fileLength;
        image.replace(tableOffset + i * ProgramFileEntrySize, ProgramFileEntrySize, ProgramFileEntryToBytes(entry));
    }
    return image;
}

QByteArray SealedProgram(QByteArray program, bool xa)
{
    QByteArray header;
    SealProgram(program, header, xa, SampleMoment());
    if (!header.isEmpty())
        SetProgramHeader(program, header);
    return program;
}
