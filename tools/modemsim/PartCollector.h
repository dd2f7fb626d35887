#pragma once

#include "modem/SmsPdu.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>
#include <utility>

// Puts concatenated SMS back together as the handset does: parts that share
// a number and a reference number make one message, in part-number order,
// whatever order they come in and however often a part is sent again.
class PartCollector
{
public:
    // Takes one accepted part; gives the whole text once the last missing
    // part is in. A message in one piece is whole at once.
    std::optional<QString> add(const SmsPdu::Submit &part);

    // Messages waiting for parts: a handset keeps only so many.
    static constexpr qsizetype MaxWaiting = 64;
    qsizetype waiting() const { return m_waiting.size(); }

private:
    using Key = std::pair<QString, int>; // number, reference number
    struct Waiting {
        QList<std::optional<QString>> texts; // by part number - 1
        int missing = 0;
        quint64 since = 0; // arrival order, to forget the oldest first
    };

    QMap<Key, Waiting> m_waiting;
    quint64 m_arrivals = 0;
};
