#include "ZelvoQuote.h"

#include <QString>

namespace {

constexpr int wholeUpTo = 40;
constexpr int shownOfLonger = 32;

} // namespace

QString ZelvoQuote::quoted(const QString& value)
{
    if (value.size() <= wholeUpTo)
        return QLatin1Char('\'') + value + QLatin1Char('\'');
    return QStringLiteral("'%1...' (%2 characters)").arg(value.left(shownOfLonger)).arg(value.size());
}
