#pragma once

#include <QByteArray>
#include <QString>

// The secret that admits a control connection: fresh for every run of the
// emulator, kept in a file only its user can read, so that other users of
// the machine cannot drive the glasses although the port is open to them.
class ZelvoControlToken final
{
public:
    // A new random token, 32 bytes as 64 hexadecimal digits.
    ZelvoControlToken();

    // Where the emulator keeps the token of its current run: in its data
    // directory when it has one, else in the user's configuration folder.
    static QString filePath(const QString& dataDirectory = QString());
    // The token in the file, trimmed; empty with *error set when unreadable.
    static QByteArray readFile(const QString& path, QString* error);

    const QByteArray& value() const { return token; }
    // Writes the token atomically, readable by the owner only.
    bool save(const QString& path, QString* error) const;
    // Writes bytes atomically into a file readable by its owner only (the
    // token, or an address that holds it); on failure, no file is left.
    static bool writeOwnerOnly(const QString& path, const QByteArray& bytes, QString* error);
    // Makes the folder, mode 0700, unless it is one already; false with
    // *error (the system's reason) when it cannot.
    static bool makePrivateDirectory(const QString& path, QString* error);
    // In constant time, so that answer times say nothing about the token.
    bool matches(const QByteArray& candidate) const;

private:
    QByteArray token;
};
