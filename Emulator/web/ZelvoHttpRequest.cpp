#include "web/ZelvoHttpRequest.h"

#include <algorithm>

namespace {

// The characters of a method or a field name.
bool isTokenCharacter(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArray("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (!isTokenCharacter(c))
            return false;
    }
    return true;
}

// Visible characters and spaces: no control character, no byte past ASCII
// in a target; a field value may carry tabs and bytes past ASCII.
bool isTargetText(const QByteArray& text)
{
    for (const char c : text) {
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return false;
    }
    return true;
}

bool isFieldText(const QByteArray& text)
{
    for (const char c : text) {
        if ((uchar(c) < 0x20 && c != '\t') || uchar(c) == 0x7f)
            return false;
    }
    return true;
}

QByteArray decodeQueryPart(QByteArray part)
{
    return QByteArray::fromPercentEncoding(part.replace('+', ' '));
}

} // namespace

ZelvoHttpRequest::Status ZelvoHttpRequest::read(const QByteArray& bytes)
{
    requestMethod.clear();
    targetPath.clear();
    query.clear();
    fields.clear();
    size = 0;

    // A line ends at LF; a CR before it belongs to the line end.
    const int window = int(std::min<qsizetype>(bytes.size(), maxHeadBytes));
    int start = 0;
    bool first = true;
    while (true) {
        const int end = bytes.indexOf('\n', start);
        if (end < 0 || end >= window)
            return bytes.size() >= maxHeadBytes ? Status::TooLarge : Status::Incomplete;
        QByteArray line = bytes.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        else
            bareLineFeeds = true;
        start = end + 1;
        if (first) {
            // A blank line or two before the request line is allowed.
            if (line.isEmpty() && start <= 4)
                continue;
            if (!readRequestLine(line))
                return Status::Malformed;
            first = false;
            continue;
        }
        if (line.isEmpty())
            break;
        // Folded lines are obsolete and a way to smuggle fields past a check.
        if (line.startsWith(' ') || line.startsWith('\t'))
            return Status::Malformed;
        const int colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon)))
            return Status::Malformed;
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (!isFieldText(value))
            return Status::Malformed;
        if (fields.size() == maxFields)
            return Status::TooLarge;
        fields.append({line.left(colon).toLower(), value});
    }
    size = start;
    return Status::Complete;
}

bool ZelvoHttpRequest::readRequestLine(const QByteArray& line)
{
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !isToken(parts.at(0)) || (parts.at(2) != "HTTP/1.1" && parts.at(2) != "HTTP/1.0"))
        return false;
    const QByteArray& target = parts.at(1);
    if (!target.startsWith('/') || !isTargetText(target))
        return false;
    requestMethod = parts.at(0);
    const int question = target.indexOf('?');
    const int hash = target.indexOf('#');
    const QByteArray withoutFragment = hash < 0 ? target : target.left(hash);
    targetPath = QByteArray::fromPercentEncoding(question < 0 ? withoutFragment : withoutFragment.left(question));
    if (question >= 0)
        query = withoutFragment.mid(question + 1);
    return true;
}

QByteArray ZelvoHttpRequest::queryValue(const QByteArray& name) const
{
    for (const QByteArray& pair : query.split('&')) {
        const int equals = pair.indexOf('=');
        const QByteArray key = decodeQueryPart(equals < 0 ? pair : pair.left(equals));
        if (key == name)
            return equals < 0 ? QByteArray() : decodeQueryPart(pair.mid(equals + 1));
    }
    return QByteArray();
}

QByteArray ZelvoHttpRequest::field(const QByteArray& name) const
{
    const QByteArray lower = name.toLower();
    QByteArray value;
    for (const auto& entry : fields) {
        if (entry.first != lower)
            continue;
        if (!value.isEmpty())
            value += ", ";
        value += entry.second;
    }
    return value;
}

bool ZelvoHttpRequest::fieldHasToken(const QByteArray& name, const QByteArray& token) const
{
    for (const QByteArray& part : field(name).split(',')) {
        if (part.trimmed().toLower() == token.toLower())
            return true;
    }
    return false;
}

bool ZelvoHttpRequest::isWebSocketUpgrade() const
{
    return requestMethod == "GET" && fieldHasToken("connection", "upgrade") && fieldHasToken("upgrade", "websocket")
           && field("sec-websocket-version") == "13" && !field("sec-websocket-key").isEmpty();
}
