#include "Formats/DXJsonObject.h"

#include <iterator>

namespace {
inline bool sameKey(const QString &a, const QString &b) {
    // Keys from the parser are often the very same shared string.
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}
}  // namespace

DXJsonObject::DXJsonObject(std::initializer_list<std::pair<QString, DXJsonValue>> members) {
    m_members.reserve(qsizetype(members.size()));
    for (const auto &m : members)
        insert(m.first, m.second);
}

DXJsonObject DXJsonObject::withDistinctMembers(Member *first, Member *last) {
    DXJsonObject object;
    // One allocation and one plain loop of moves.
    object.m_members = QList<Member>(std::make_move_iterator(first), std::make_move_iterator(last));
    object.rebuildIndex();
    return object;
}

qsizetype DXJsonObject::indexOf(const QString &key) const {
    if (!m_index.isEmpty())
        return m_index.value(key, -1);
    for (qsizetype i = 0; i < m_members.size(); ++i)
        if (sameKey(m_members.at(i).key, key))
            return i;
    return -1;
}

void DXJsonObject::rebuildIndex() {
    m_index.clear();
    if (m_members.size() <= kIndexThreshold)
        return;
    m_index.reserve(m_members.size());
    for (qsizetype i = 0; i < m_members.size(); ++i)
        m_index.insert(m_members.at(i).key, i);
}

const DXJsonValue &DXJsonObject::value(const QString &key) const {
    const qsizetype i = indexOf(key);
    return i < 0 ? DXJsonValue::undefined() : m_members.at(i).value;
}

DXJsonValue *DXJsonObject::find(const QString &key) {
    const qsizetype i = indexOf(key);
    return i < 0 ? nullptr : &m_members[i].value;
}

void DXJsonObject::insert(const QString &key, const DXJsonValue &value) { insert(key, DXJsonValue(value)); }

void DXJsonObject::insert(const QString &key, DXJsonValue &&value) {
    const qsizetype i = indexOf(key);
    if (i >= 0) {
        m_members[i].value = std::move(value);
        return;
    }
    m_members.append(Member{key, std::move(value)});
    if (!m_index.isEmpty())
        m_index.insert(key, m_members.size() - 1);
    else if (m_members.size() > kIndexThreshold)
        rebuildIndex();
}

bool DXJsonObject::remove(const QString &key) {
    const qsizetype i = indexOf(key);
    if (i < 0)
        return false;
    m_members.removeAt(i);
    rebuildIndex();
    return true;
}

void DXJsonObject::clear() {
    m_members.clear();
    m_index.clear();
}

QStringList DXJsonObject::keys() const {
    QStringList list;
    list.reserve(m_members.size());
    for (const Member &m : m_members)
        list.append(m.key);
    return list;
}

bool operator==(const DXJsonObject &a, const DXJsonObject &b) {
    if (a.size() != b.size())
        return false;
    for (const DXJsonObject::Member &m : a) {
        const qsizetype j = b.indexOf(m.key);
        if (j < 0 || !(b.m_members.at(j).value == m.value))
            return false;
    }
    return true;
}
