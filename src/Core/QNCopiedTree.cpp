#include "Core/QNCopiedTree.h"

#include <utility>

QNCopiedTree::QNCopiedTree(std::function<void()> listed) : m_listed(std::move(listed)) {
    m_checks.await(QString(), [](bool) {});  // the tree answers it: checksAnswered()
}

std::shared_ptr<void> QNCopiedTree::openFolder() {
    {
        std::lock_guard lock(m_mutex);
        ++m_open;
    }
    // The token keeps the tree: items of a task go in any order.
    auto self = shared_from_this();
    return std::shared_ptr<void>(nullptr, [self](void *) { self->closeFolder(); });
}

void QNCopiedTree::closeFolder() {
    std::function<void()> listed;
    {
        std::lock_guard lock(m_mutex);
        if (--m_open > 0)
            return;
        listed = std::move(m_listed);
        m_listed = nullptr;
    }
    if (listed)
        listed();
}

void QNCopiedTree::addSourceFolder(const QNDocumentPtr &folder) {
    std::lock_guard lock(m_mutex);
    m_sourceFolders.append(folder);
}

void QNCopiedTree::addMerge(const QNDocumentPtr &folder, const QNDocumentPtr &namesake) {
    std::lock_guard lock(m_mutex);
    m_merges.append({folder, namesake});
}

QList<QNDocumentPtr> QNCopiedTree::sourceFolders() const {
    std::lock_guard lock(m_mutex);
    return m_sourceFolders;
}

QList<QNCopiedTree::Merge> QNCopiedTree::merges() const {
    std::lock_guard lock(m_mutex);
    return m_merges;
}

void QNCopiedTree::addMadeFolder(const QNDocumentPtr &folder) {
    std::lock_guard lock(m_mutex);
    m_madeFolders.append(folder);
}

QList<QNDocumentPtr> QNCopiedTree::madeFolders() const {
    std::lock_guard lock(m_mutex);
    return m_madeFolders;
}

bool QNCopiedTree::refuse() {
    std::lock_guard lock(m_mutex);
    return !std::exchange(m_refused, true);
}

bool QNCopiedTree::isRefused() const {
    std::lock_guard lock(m_mutex);
    return m_refused;
}

void QNCopiedTree::afterChecks(Start start) {
    m_checks.await(QString(), [start = std::move(start)](bool go) { start(go); });
}

void QNCopiedTree::checksAnswered(bool go) {
    m_checks.finish(QString(), go, true);
}

void QNCopiedTree::setAliasAnswer(const QNAliasCheck::Outcome &outcome) {
    std::lock_guard lock(m_mutex);
    m_aliasAnswer = std::make_shared<const QNAliasCheck::Outcome>(outcome);
}

std::shared_ptr<const QNAliasCheck::Outcome> QNCopiedTree::aliasAnswer() const {
    std::lock_guard lock(m_mutex);
    return m_aliasAnswer;
}
