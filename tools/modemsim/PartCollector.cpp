#include "PartCollector.h"

#include <algorithm>

std::optional<QString> PartCollector::add(const SmsPdu::Submit &part)
{
    if (part.reference < 0 || part.partCount <= 1)
        return part.text;

    const Key key{part.number, part.reference};
    auto it = m_waiting.find(key);
    // A part count that disagrees starts another message under the same reference.
    if (it != m_waiting.end() && it->texts.size() != part.partCount) {
        m_waiting.erase(it);
        it = m_waiting.end();
    }
    if (it == m_waiting.end()) {
        if (m_waiting.size() >= MaxWaiting) {
            const auto oldest = std::min_element(m_waiting.begin(), m_waiting.end(),
                                                 [](const Waiting &a, const Waiting &b) { return a.since < b.since; });
            m_waiting.erase(oldest);
        }
        it = m_waiting.insert(key, {QList<std::optional<QString>>(part.partCount), part.partCount, 0});
    }
    it->since = ++m_arrivals;
    std::optional<QString> &slot = it->texts[part.partNumber - 1];
    if (!slot)
        --it->missing;
    slot = part.text;
    if (it->missing > 0)
        return std::nullopt;

    QString whole;
    for (const std::optional<QString> &text : it->texts)
        whole += *text;
    m_waiting.erase(it);
    return whole;
}
