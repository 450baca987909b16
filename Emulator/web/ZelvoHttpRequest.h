#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// The head of one HTTP/1.1 request as a browser sends it for a page or a
// WebSocket upgrade: the request line and the header fields, nothing more.
// A request body is never read: the page takes none. Reading is bounded, so
// a peer that sends an endless line or endless fields gets TooLarge and no
// more memory than maxHeadBytes.
class ZelvoHttpRequest final
{
public:
    // A browser's request head is one or two KiB, its cookies included.
    static constexpr int maxHeadBytes = 16 * 1024;
    static constexpr int maxFields = 64;

    enum class Status { Incomplete, Complete, Malformed, TooLarge };

    // Reads the head at the start of bytes (which may go on past it).
    // Incomplete when more bytes may still make it whole.
    Status read(const QByteArray& bytes);

    const QByteArray& method() const { return requestMethod; }
    // The path of the target, percent-decoded, without its query.
    const QByteArray& path() const { return targetPath; }
    // A parameter of the target's query, percent-decoded; empty when absent.
    QByteArray queryValue(const QByteArray& name) const;
    // A field's value (its name in any case), spaces around it trimmed;
    // several fields of one name joined with ", " as HTTP says.
    QByteArray field(const QByteArray& name) const;
    // Whether a comma-separated field holds the token, in any case
    // ("Connection: keep-alive, Upgrade" holds "upgrade").
    bool fieldHasToken(const QByteArray& name, const QByteArray& token) const;
    // A WebSocket opening handshake of version 13.
    bool isWebSocketUpgrade() const;
    // Whether a line of the head ended in LF alone.
    bool hasBareLineFeeds() const { return bareLineFeeds; }
    // The bytes the head took, its blank line included.
    int headSize() const { return size; }

private:
    bool readRequestLine(const QByteArray& line);

    QByteArray requestMethod;
    QByteArray targetPath;
    QByteArray query;
    QList<QPair<QByteArray, QByteArray>> fields;
    int size = 0;
    bool bareLineFeeds = false;
};
