#include "ZelvoEventMessage.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <iterator>

namespace {

// Agents parse the values as text with three decimals and never in exponent
// form, whatever the magnitude.
QByteArray valueText(float value)
{
    return QByteArray::number(double(value), 'f', 3);
}

// A JSON string as QJsonDocument writes it. Printable ASCII other than the
// quote and the backslash stands for itself; any other text takes
// QJsonDocument's own escaping, which keeps the bytes exactly its own.
QByteArray jsonString(const QString& text)
{
    const bool plain = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x80 && c != QLatin1Char('"') && c != QLatin1Char('\\');
    });
    if (plain)
        return '"' + text.toLatin1() + '"';
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

QByteArray ZelvoEventMessage::encode(int type, const float (&values)[4], const QString& appId, int contentId)
{
    // Byte for byte the indented form of QJsonDocument: keys in ascending
    // order, final line break included. Written directly, as a QJsonObject
    // and its document cost several times more than the message's few lines.
    QByteArray text = "{\n"
                      "    \"appId\": " + jsonString(appId) + ",\n"
                      "    \"contentId\": \"" + QByteArray::number(contentId) + "\",\n"
                      "    \"data\": {\n"
                      "        \"type\": " + QByteArray::number(type) + ",\n"
                      "        \"values\": [\n";
    for (size_t i = 0; i < std::size(values); ++i)
        text += "            \"" + valueText(values[i]) + (i + 1 < std::size(values) ? "\",\n" : "\"\n");
    text += "        ]\n"
            "    },\n"
            "    \"what_changed\": \"event\"\n"
            "}\n";
    return text;
}
