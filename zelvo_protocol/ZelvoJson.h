#pragma once

#include <QJsonDocument>

class QByteArray;
struct QJsonParseError;

// JSON text from outside (agent frames, control lines), parsed as
// QJsonDocument::fromJson does, but safe against repeated keys.
namespace ZelvoJson {

// Qt 5.15's parser never frees the earlier value of a key repeated in one
// object, so a hostile sender could make every frame leak. Earlier members
// of a repeated key are cut from the text before Qt sees it, which keeps
// Qt's own result: the last value of a key wins. What is cut is parsed on
// its own, so a text is refused exactly when Qt would refuse it. A NUL
// byte in a string is the character U+0000, as for Qt, in keys too: keys
// that differ after it are different keys.
QJsonDocument parse(const QByteArray& text, QJsonParseError* error = nullptr);

// Whether bytes may begin a line holding a JSON object: white space, then
// "{". A control line starts so and a frame never does (its length would
// be gigabytes), which tells one port from the other on the first bytes.
bool mayBeObject(const QByteArray& start);

} // namespace ZelvoJson
