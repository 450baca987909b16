#include "ZelvoFrame.h"

#include <QtEndian>

#include <algorithm>

namespace ZelvoFrame {

QByteArray encode(const QByteArray& payload)
{
    QByteArray frame(headerSize + payload.size(), Qt::Uninitialized);
    qToBigEndian<qint32>(payload.size(), frame.data());
    std::copy(payload.cbegin(), payload.cend(), frame.begin() + headerSize);
    return frame;
}

qint64 payloadSize(const char* header)
{
    return qFromBigEndian<qint32>(header);
}

} // namespace ZelvoFrame
