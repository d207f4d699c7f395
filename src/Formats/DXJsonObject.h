#pragma once

#include "Formats/DXJsonValue.h"

#include <QHash>
#include <QList>
#include <initializer_list>
#include <utility>

// A JSON object: string keys to values, kept in insertion order (the writer
// writes them in this order unless asked to sort). Inserting a key that is
// already there replaces its value in place. Lookups are linear for small
// objects (a reply's record of a few dozen members) and hashed for large ones.
class DXJsonObject {
public:
    struct Member {
        // Spelled out so that containers can make one in place with every
        // compiler (not all take parentheses for an aggregate yet).
        Member() = default;
        Member(QString k, DXJsonValue v) : key(std::move(k)), value(std::move(v)) {}

        QString key;
        DXJsonValue value;
    };
    using const_iterator = QList<Member>::const_iterator;

    DXJsonObject() = default;
    DXJsonObject(std::initializer_list<std::pair<QString, DXJsonValue>> members);

    qsizetype size() const { return m_members.size(); }
    bool isEmpty() const { return m_members.isEmpty(); }
    bool contains(const QString &key) const { return indexOf(key) >= 0; }
    // The value under key, or the undefined value.
    const DXJsonValue &value(const QString &key) const;
    const DXJsonValue &operator[](const QString &key) const { return value(key); }
    // Mutable access to an existing member's value; null when absent.
    DXJsonValue *find(const QString &key);

    void insert(const QString &key, const DXJsonValue &value);
    void insert(const QString &key, DXJsonValue &&value);
    bool remove(const QString &key);
    void clear();
    void reserve(qsizetype n) { m_members.reserve(n); }
    // An object of these members, moved in; their keys must be distinct
    // (the parser has made sure). Saves a duplicate check per member.
    static DXJsonObject withDistinctMembers(Member *first, Member *last);

    QStringList keys() const;
    const Member &at(qsizetype i) const { return m_members.at(i); }
    const_iterator begin() const { return m_members.cbegin(); }
    const_iterator end() const { return m_members.cend(); }

    // Same keys with equal values; order does not matter.
    friend bool operator==(const DXJsonObject &a, const DXJsonObject &b);
    friend bool operator!=(const DXJsonObject &a, const DXJsonObject &b) { return !(a == b); }

private:
    static constexpr qsizetype kIndexThreshold = 32;
    qsizetype indexOf(const QString &key) const;
    void rebuildIndex();

    QList<Member> m_members;
    QHash<QString, qsizetype> m_index;  // only for objects larger than the threshold
};

Q_DECLARE_TYPEINFO(DXJsonObject::Member, Q_RELOCATABLE_TYPE);
