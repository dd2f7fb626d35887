#pragma once

#include <QDateTime>
#include <QString>

// An SMS a phone sent to the desk, as a route heard it.
struct IncomingSms {
    QString number;   // the sender as the network gave it ("+15550100")
    QString text;     // decoded; the parts of a long SMS joined
    QDateTime sentAt; // the service centre's time stamp; invalid where none came
};
