#pragma once

#include <QHash>
#include <QString>
#include <functional>
#include <mutex>
#include <vector>

// An answer that several callers of one task ask for and that is worked out
// once per key: the first to ask works it out and hands it to finish(); the
// others wait for it, and later ones get it at once. Callers run on several
// threads; the blocks are called outside the lock.
template <typename Answer>
class QNAnswerOnce {
public:
    using Block = std::function<void(const Answer &answer)>;

    // Calls block with the answer for key once it is known. Answers true
    // when the caller is the first to ask: it must work the answer out and
    // hand it to finish().
    bool await(const QString &key, Block block) {
        std::unique_lock lock(m_mutex);
        auto found = m_entries.find(key);
        if (found == m_entries.end()) {
            m_entries[key].waiting.push_back(std::move(block));
            return true;
        }
        if (!found->known) {
            found->waiting.push_back(std::move(block));
            return false;
        }
        const Answer answer = found->answer;
        lock.unlock();
        block(answer);
        return false;
    }

    // Hands the answer to everyone waiting for it; kept for later callers
    // unless keep is false (the next to ask works it out again).
    void finish(const QString &key, const Answer &answer, bool keep) {
        std::vector<Block> waiting;
        {
            std::lock_guard lock(m_mutex);
            auto found = m_entries.find(key);
            if (found == m_entries.end())
                return;
            waiting.swap(found->waiting);
            if (keep) {
                found->known = true;
                found->answer = answer;
            } else {
                m_entries.erase(found);
            }
        }
        for (const auto &block : waiting)
            block(answer);
    }

private:
    struct Entry {
        bool known = false;
        Answer answer{};
        std::vector<Block> waiting;
    };
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
};
