#pragma once

#include <QByteArray>
#include <QString>

// The secret that admits a control connection: fresh for every run of the
// emulator, kept in a file only its user can read, so that other users of
// the machine cannot drive the glasses although the port is open to them.
class ZelvoControlToken final
{
public:
    // Whoever starts the emulator may give its token here, so that a client
    // in another container or on another machine knows it without the file.
    static constexpr const char* environmentVariable = "ZELVO_CONTROL_TOKEN";

    // A new random token, 32 bytes as 64 hexadecimal digits.
    ZelvoControlToken();

    // Takes the token that the environment gives, if any; false with
    // *error when it is too short to be hard to guess or not one word of
    // printable ASCII.
    bool takeEnvironment(QString* error);
    // What a client presents: the environment's token, else the file's.
    static QByteArray forClient(const QString& path, QString* error);

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
