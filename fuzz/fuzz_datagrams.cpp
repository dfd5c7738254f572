// Fuzzes the link's reception: arbitrary sequences of datagrams through HandleDatagram,
// with the reassembly of frames that span several datagrams.
//
// Input layout: a sequence of records [length byte n][n bytes]; n = 255 means "the rest".
// Every record is one datagram. The link is waiting for a reply while they arrive, and a
// new wait may begin between datagrams (a byte of the record header's top bit decides).
#include "uCommunication.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

static TCommunicator& Link()
{
    static int argc = 1;
    static char name[] = "fuzz_datagrams";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static TCommunicator link;
    return link;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TCommunicator& link = Link();
    link.ExpectReply();
    size_t at = 0;
    while (at < size) {
        const uint8_t head = data[at++];
        size_t n = head & 0x7F;
        if (n == 0x7F || n > size - at)
            n = size - at;
        if (head & 0x80) {
            // A new request's wait begins: reception starts afresh.
            link.ExpectReply();
        }
        link.HandleDatagram(QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(n)),
                            QStringLiteral("127.0.0.2"), 8442, QStringLiteral("127.0.0.1"), 40000);
        at += n;
        // The reception text never holds more than one receive buffer's worth of text.
        if (link.PendingText().size() > 2 * TCommunicator::ReceiveBufferSize)
            std::abort();
        if (link.ReceptionState() != TCommunicator::StateIdle && link.ReceptionState() != TCommunicator::StateWaiting &&
            link.ReceptionState() != TCommunicator::StateReceiving)
            std::abort();
    }
    return 0;
}
