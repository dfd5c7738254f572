// SampleImages: kernel and PLC program images made by our own tooling, for the simulator,
// the tests, the benchmarks and demos without hardware (orvel-mkimages writes them to files).
//
// Every image is deterministic: the same call gives the same bytes, bodies are
// pseudo-random from a fixed seed and every date is SampleMoment().
#pragma once

#include <QByteArray>
#include <QDateTime>

#include <cstdint>

// The moment all samples are stamped with, so that files and tests stay reproducible.
QDateTime SampleMoment();

// size bytes from a fixed pseudo-random sequence started by seed.
QByteArray PseudoRandomBytes(int size, uint32_t seed);

// A valid, stamped kernel for the platform of a loader major version (2 = XA with its header
// at 0x120 and VersionMajor 2, otherwise ARM with its header at 0x400 and VersionMajor 3):
// Magic 0x6A2F, hardware model 10, IEX baud rate 3, DHCP, no NAD alias.
QByteArray SampleKernel(uint16_t loaderMajor, int size = 48 * 1024);

// A PLC program as the programming environment delivers it: erased header (marker, kind and
// checksum 0xFFFF), ProgramLength = its size, no file system. At least 114 bytes.
QByteArray SampleProgram(int size = 20 * 1024);

// An XA program of 20 KiB whose 12 KiB program part lists two 4 KiB files stored behind it,
// so that the stored length comes from the file table. Erased header.
QByteArray SampleXaFileProgram();

// The image as a controller holds it after a send: sealed header in place.
QByteArray SealedProgram(QByteArray program, bool xa);
