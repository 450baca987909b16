#include "ZelvoJson.h"

#include <QByteArray>
#include <QChar>
#include <QHash>
#include <QString>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Qt refuses deeper documents, so the scan never needs to look further.
constexpr int maxDepth = 1024;

// Bytes [first, second) of the text.
using Span = std::pair<int, int>;

struct Container
{
    bool object = false;
    bool expectKey = false;
    QString key;
    int memberStart = 0;
    // Each key of the object with the span of its member, comma included.
    QHash<QString, Span> members;
};

// The index of the quote that closes the string opening at start, or -1.
int stringEnd(const char* data, int size, int start)
{
    int from = start + 1;
    while (from < size) {
        const auto* quote = static_cast<const char*>(std::memchr(data + from, '"', size_t(size - from)));
        if (!quote)
            return -1;
        const int at = int(quote - data);
        int backslashes = 0;
        while (at - backslashes - 1 > start && data[at - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return at;
        from = at + 1;
    }
    return -1;
}

// The key as Qt stores it, so that "a", "\u0061" and "\a" are one key: Qt
// takes any other ASCII character after a backslash, NUL too, as itself.
// Escapes Qt would refuse are kept as written: Qt fails on them before
// storing.
QString keyText(const char* data, int size)
{
    const char* backslash = static_cast<const char*>(std::memchr(data, '\\', size_t(size)));
    if (!backslash)
        return QString::fromUtf8(data, size);
    QString key;
    int plain = 0;
    for (int i = int(backslash - data); i < size; ++i) {
        if (data[i] != '\\')
            continue;
        key += QString::fromUtf8(data + plain, i - plain);
        if (i + 1 >= size)
            return QString::fromUtf8(data, size);
        const char escape = data[i + 1];
        static const char simple[] = "\"\\/bfnrt";
        static const char meaning[] = "\"\\/\b\f\n\r\t";
        if (const char* found = escape ? std::strchr(simple, escape) : nullptr) {
            key += QLatin1Char(meaning[found - simple]);
            plain = i + 2;
        } else if (escape == 'u') {
            bool ok = false;
            const ushort unit = i + 6 <= size ? QByteArray(data + i + 2, 4).toUShort(&ok, 16) : 0;
            if (!ok)
                return QString::fromUtf8(data, size);
            key += QChar(unit);
            plain = i + 6;
        } else if (uchar(escape) < 0x80) {
            key += QLatin1Char(escape);
            plain = i + 2;
        } else {
            return QString::fromUtf8(data, size);
        }
        i = plain - 1;
    }
    return key + QString::fromUtf8(data + plain, size - plain);
}

// The members to cut: every member whose key comes again later in the same
// object. The scan follows only strings and brackets; where the text stops
// making sense it stops too, and Qt reports the fault.
std::vector<Span> repeatedMembers(const QByteArray& text)
{
    std::vector<Span> cuts;
    std::vector<Container> stack;
    const char* data = text.constData();
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        switch (data[i]) {
        case '"': {
            const int end = stringEnd(data, size, i);
            if (end < 0)
                return cuts;
            if (!stack.empty() && stack.back().expectKey) {
                Container& object = stack.back();
                object.expectKey = false;
                object.key = keyText(data + i + 1, end - i - 1);
                object.memberStart = i;
                const auto earlier = object.members.constFind(object.key);
                if (earlier != object.members.constEnd())
                    cuts.push_back(earlier.value());
            }
            i = end;
            break;
        }
        case '{':
        case '[':
            if (stack.size() >= size_t(maxDepth))
                return cuts;
            stack.emplace_back();
            stack.back().object = data[i] == '{';
            stack.back().expectKey = stack.back().object;
            break;
        case '}':
        case ']':
            if (stack.empty())
                return cuts;
            stack.pop_back();
            break;
        case ',':
            if (!stack.empty() && stack.back().object) {
                Container& object = stack.back();
                object.members.insert(object.key, {object.memberStart, i + 1});
                object.expectKey = true;
            }
            break;
        default:
            break;
        }
    }
    return cuts;
}

// Appends text[from, to) without the cuts that lie in it, starting at
// cuts[next], and moves next past them. Every member cut must be sound JSON
// as it was written (it is parsed alone, with its own repeats cut first),
// so that cutting never turns a refused text into an accepted one. Each
// byte is parsed once: a cut's text leaves out the cuts inside it.
bool appendKept(QByteArray& kept, const QByteArray& text, int from, int to, const std::vector<Span>& cuts, size_t& next,
                QJsonParseError* error)
{
    while (next < cuts.size() && cuts[next].first < to) {
        const Span cut = cuts[next++];
        kept.append(text.constData() + from, cut.first - from);
        // The member without its comma, as the only member of an object.
        QByteArray member("{");
        if (!appendKept(member, text, cut.first, cut.second - 1, cuts, next, error))
            return false;
        member.append('}');
        QJsonParseError memberError;
        QJsonDocument::fromJson(member, &memberError);
        if (memberError.error != QJsonParseError::NoError) {
            if (error)
                *error = {cut.first + memberError.offset - 1, memberError.error};
            return false;
        }
        from = cut.second;
    }
    kept.append(text.constData() + from, to - from);
    return true;
}

QJsonDocument parseWithoutRepeats(const QByteArray& text, QJsonParseError* error)
{
    std::vector<Span> cuts = repeatedMembers(text);
    if (cuts.empty())
        return QJsonDocument::fromJson(text, error);
    // Members nest, so in start order a cut's inner cuts follow it.
    std::sort(cuts.begin(), cuts.end());
    QByteArray kept;
    kept.reserve(text.size());
    size_t next = 0;
    if (!appendKept(kept, text, 0, text.size(), cuts, next, error))
        return {};
    return QJsonDocument::fromJson(kept, error);
}

// Each NUL byte spelt as the escape of U+0000, which Qt reads it as. With
// a raw NUL in them, Qt compares keys only up to that byte, and only those
// its sort sets side by side, so which keys it takes as repeated (and
// leaks) cannot be foreseen; spelt out, keys are compared whole, as the
// scan above compares them. After an escaping backslash only "u0000" is
// added. spelt gets where each spelling starts and the bytes it added.
QByteArray spellNul(const QByteArray& text, std::vector<Span>* spelt)
{
    QByteArray out;
    out.reserve(text.size() + 16);
    int backslashes = 0;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\0') {
            out.append(c);
            backslashes = c == '\\' ? backslashes + 1 : 0;
            continue;
        }
        const char* spelling = backslashes % 2 ? "u0000" : "\\u0000";
        spelt->push_back({out.size(), int(std::strlen(spelling)) - 1});
        out.append(spelling);
        backslashes = 0;
    }
    return out;
}

} // namespace

QJsonDocument ZelvoJson::parse(const QByteArray& text, QJsonParseError* error)
{
    // memchr: Qt 5's own search goes byte by byte, at a third of the cost
    // of parsing a frame of pictures.
    if (!std::memchr(text.constData(), '\0', size_t(text.size())))
        return parseWithoutRepeats(text, error);
    std::vector<Span> spelt;
    const QByteArray spelled = spellNul(text, &spelt);
    QJsonParseError spelledError{};
    QJsonDocument document = parseWithoutRepeats(spelled, &spelledError);
    if (error) {
        // The offset in the text as it came.
        int offset = spelledError.offset;
        for (const auto& [at, added] : spelt) {
            if (at < spelledError.offset)
                offset -= qMin(spelledError.offset - at, added);
        }
        *error = {offset, spelledError.error};
    }
    return document;
}

bool ZelvoJson::mayBeObject(const QByteArray& start)
{
    for (const char byte : start) {
        if (byte != ' ' && byte != '\t' && byte != '\r' && byte != '\n')
            return byte == '{';
    }
    return true;
}
