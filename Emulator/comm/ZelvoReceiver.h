#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

class ZelvoAction;
class ZelvoConnection;

// Turns each payload of a connection's framing socket into a ZelvoAction and
// hands the valid ones to the connection.
class ZelvoReceiver final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoReceiver)

public:
    explicit ZelvoReceiver(ZelvoConnection* connection);
    ~ZelvoReceiver() override;

protected slots:
    void onDataReceived(const QList<QByteArray>& slices);
    void onActionReceived(const ZelvoAction& action);

private:
    // The connection wires its framing socket to onDataReceived.
    friend class ZelvoConnection;

    struct Parsed;
    static Parsed parse(const QList<QByteArray>& slices);
    void handle(const Parsed& parsed);

    ZelvoConnection* connection = nullptr;
};
