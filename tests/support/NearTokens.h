#pragma once

#include <QByteArray>
#include <QTest>

// Wrong tokens a byte away from the right one. Those of its length pass
// the length check and are refused only by the comparison of the changed
// byte: a loop bound that misses the first or the last byte lets them in.
// Header only, for the protocol's tests, which link no test support.
namespace NearTokens {

enum Change { FirstByte, MiddleByte, LastByte, ByteMore, ByteLess };

// The column "change", a row for each, named after it.
inline void addRows()
{
    QTest::addColumn<int>("change");
    QTest::newRow("first byte changed") << int(FirstByte);
    QTest::newRow("middle byte changed") << int(MiddleByte);
    QTest::newRow("last byte changed") << int(LastByte);
    QTest::newRow("one byte more") << int(ByteMore);
    QTest::newRow("one byte less") << int(ByteLess);
}

// The token changed as the row says, still printable as a client sends it.
inline QByteArray changed(QByteArray token, int change)
{
    const auto flip = [&token](int i) { token[i] = token.at(i) == '0' ? '1' : '0'; };
    switch (change) {
    case FirstByte:
        flip(0);
        break;
    case MiddleByte:
        flip(int(token.size() / 2));
        break;
    case LastByte:
        flip(int(token.size() - 1));
        break;
    case ByteMore:
        token.append('0');
        break;
    case ByteLess:
        token.chop(1);
        break;
    }
    return token;
}

} // namespace NearTokens
