#pragma once

#include "Platform/VNLog.h"

#include <QString>
#include <mutex>

// Declares a field with a getter and a setter that take the object's
// m_propertyMutex, so that the main thread, queue workers and handlers may
// read and write one object at the same time (each access is atomic; nothing
// guards a sequence of accesses).
#define QN_LOCKED_PROPERTY(Type, name, setter)                   \
public:                                                          \
    Type name() const {                                          \
        std::lock_guard propertyLock(m_propertyMutex);           \
        return m_##name;                                         \
    }                                                            \
    void setter(Type value) {                                    \
        std::lock_guard propertyLock(m_propertyMutex);           \
        m_##name = std::move(value);                             \
    }                                                            \
                                                                 \
private:                                                         \
    Type m_##name{};

// A text property that holds a credential (a password, a token): besides
// being locked like the others, every value set is registered with the log
// as a secret, so no log line can carry it even where a caller logs a text
// made from it (drive ids are).
#define QN_SECRET_PROPERTY(name, setter)                         \
public:                                                          \
    QString name() const {                                       \
        std::lock_guard propertyLock(m_propertyMutex);           \
        return m_##name;                                         \
    }                                                            \
    void setter(QString value) {                                 \
        VNLog::addSecret(value);                                 \
        std::lock_guard propertyLock(m_propertyMutex);           \
        m_##name = std::move(value);                             \
    }                                                            \
                                                                 \
private:                                                         \
    QString m_##name{};

// A callback property: getter, setter, and a taker that hands the callback
// out and leaves the property empty, so that of two threads racing to answer
// only one gets it.
#define QN_LOCKED_CALLBACK(Type, name, setter, taker)            \
    QN_LOCKED_PROPERTY(Type, name, setter)                       \
public:                                                          \
    Type taker() {                                               \
        std::lock_guard propertyLock(m_propertyMutex);           \
        Type out = std::move(m_##name);                          \
        m_##name = nullptr;                                      \
        return out;                                              \
    }                                                            \
                                                                 \
private:
