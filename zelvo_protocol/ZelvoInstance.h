#pragma once

#include "ZelvoPorts.h"

#include <QString>

class QHostAddress;

// Where one emulator serves and keeps its files, so that several can run
// side by side: its two ports and its data directory. The emulator and the
// tools read the same environment variables; their options override them.
class ZelvoInstance final
{
public:
    static constexpr const char* agentPortVariable = "ZELVO_AGENT_PORT";
    static constexpr const char* controlPortVariable = "ZELVO_CONTROL_PORT";
    static constexpr const char* dataDirVariable = "ZELVO_DATA_DIR";
    // The port of the web page; it is served only when this or its option is set.
    static constexpr const char* webPortVariable = "ZELVO_WEB_PORT";
    // Where the tools find the emulator, as when it runs in a container.
    static constexpr const char* hostVariable = "ZELVO_HOST";

    quint16 agentPort = ZelvoPorts::agent;
    quint16 controlPort = ZelvoPorts::control;
    QString host = QStringLiteral("127.0.0.1");
    // Empty: the user's home folders, as a single emulator uses them.
    QString dataDirectory;

    // Takes what the environment sets; false with *error on a value that
    // is no port (0 counts as one: any free port).
    bool readEnvironment(QString* error);

    // What a tool talks to: the environment, then the ports file over it
    // when one is named; false with *error when either is unusable.
    bool locate(const QString& portsFile, QString* error);

    // Takes the ports, the host and the token file from a ports file the
    // emulator wrote; false with *error when it is missing or not one.
    // ZELVO_HOST, when set, stays the host: it tells where the emulator is
    // from the tool's side, as from outside its container.
    bool readPortsFile(const QString& path, QString* error);
    // Written atomically, so that whoever waits for the file reads it whole.
    // webPort is 0 when no web page is served; the file names an address
    // that reaches the control channel listening on controlAddress.
    static bool writePortsFile(const QString& path, quint16 agentPort, quint16 controlPort, quint16 webPort,
                               const QString& tokenFile, const QHostAddress& controlAddress, QString* error);
    // Removes the ports file if this process wrote it: another emulator
    // told to use the same file may have written its own since.
    static void removeOwnPortsFile(const QString& path);

    // The control token of this instance: from the ports file once read,
    // else in the data directory, else in the user's configuration folder.
    QString tokenFile() const;

    // A port number given as text, 0 to 65535; false otherwise.
    static bool parsePort(const QString& text, quint16* port);

private:
    QString portsFileToken;
};
