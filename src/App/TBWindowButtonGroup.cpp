#include "App/TBWindowButtonGroup.h"

#include <QCoreApplication>
#include <QHash>

QString TBWindowButtonGroup::defaultIdentifier() {
    return QStringLiteral("com.tolvendi.titlebarwindow.defaultWindowButtonGroup");
}

TBWindowButtonGroup *TBWindowButtonGroup::groupWithIdentifier(const QString &identifier) {
    // Groups live as long as the process; they are parented to the
    // application so they go with it.
    static QHash<QString, TBWindowButtonGroup *> groups;
    const QString key = identifier.isNull() ? defaultIdentifier() : identifier;
    auto it = groups.find(key);
    if (it != groups.end())
        return it.value();
    auto *group = new TBWindowButtonGroup(key);
    group->setParent(QCoreApplication::instance());
    groups.insert(key, group);
    return group;
}

TBWindowButtonGroup::TBWindowButtonGroup(const QString &identifier) : m_identifier(identifier) {}

void TBWindowButtonGroup::setNumberOfCaptures(qint64 count) {
    if (count == m_numberOfCaptures || count < 0)
        return;
    m_numberOfCaptures = count;
    emit didUpdateRolloverState(this);
}
