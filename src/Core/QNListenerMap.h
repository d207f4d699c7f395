#pragma once

#include <QString>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// Listener callbacks of the task engine, one per listener key (by convention
// the registering object's description string). Registering under a present
// key replaces the callback.
//
// Calls go over a snapshot taken under the lock, so a listener may register
// or unregister (itself or others) while it is being called, from any thread,
// without disturbing the pass. A listener unregistered during a pass is not
// called afterwards in that pass: an object that unregisters on its way out
// is not called back once unregister has returned, except by a call already
// in progress on another thread.
template <typename Callback>
class QNListenerMap {
public:
    void set(const QString &key, Callback callback) {
        auto entry = std::make_shared<Entry>();
        entry->callback = std::move(callback);
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(key);
        if (it != m_entries.end())
            it->second->active.store(false);
        m_entries[key] = std::move(entry);
    }

    void remove(const QString &key) {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(key);
        if (it == m_entries.end())
            return;
        it->second->active.store(false);
        m_entries.erase(it);
    }

    void clear() {
        std::lock_guard lock(m_mutex);
        for (auto &[key, entry] : m_entries)
            entry->active.store(false);
        m_entries.clear();
    }

    bool contains(const QString &key) const {
        std::lock_guard lock(m_mutex);
        return m_entries.count(key) != 0;
    }

    int count() const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_entries.size());
    }

    bool isEmpty() const { return count() == 0; }

    // Calls every listener of the snapshot that is still registered.
    template <typename... Args>
    void callAll(const Args &...args) const {
        for (const auto &entry : snapshot())
            if (entry->active.load() && entry->callback)
                entry->callback(args...);
    }

private:
    struct Entry {
        Callback callback;
        std::atomic<bool> active{true};
    };

    std::vector<std::shared_ptr<Entry>> snapshot() const {
        std::lock_guard lock(m_mutex);
        std::vector<std::shared_ptr<Entry>> out;
        out.reserve(m_entries.size());
        for (const auto &[key, entry] : m_entries)
            out.push_back(entry);
        return out;
    }

    mutable std::mutex m_mutex;
    std::map<QString, std::shared_ptr<Entry>> m_entries;
};
