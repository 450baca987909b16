#pragma once

class QString;

namespace ZelvoQuote {

// A value from outside as an error text shows it: whole in single quotes
// when short, otherwise its first few dozen characters and its length, so
// that a hostile value never makes the error as large as itself.
QString quoted(const QString& value);

} // namespace ZelvoQuote
