#include "register/folder_watch.h"

#include "register/frame_listing.h"

#include <QFileInfo>

#include <utility>

CFolderWatch::CFolderWatch(QString watched)
    : folder(std::move(watched))
    , lastArrival(Clock::now())
{
}

CFolderWatch::Look CFolderWatch::LookAgain(bool last)
{
    Look look;
    if (!QFileInfo(folder).isDir()) {
        look.gone = true;
        return look;
    }
    const Clock::time_point now = Clock::now();
    // The same listing and order as a run over the finished folder.
    const QStringList names = ListFrameFiles(folder, QDir::Name);
    std::map<QString, Pending> seen;
    for (const QString& name : names) {
        if (!lastTaken.isEmpty() && name <= lastTaken) {
            if (!taken.contains(name) && !lateSeen.contains(name)) {
                lateSeen.insert(name);
                look.late << name;
            }
            continue;
        }
        const qint64 size = QFileInfo(folder + QLatin1Char('/') + name).size();
        const auto known = pending.find(name);
        if (known == pending.end())
            lastArrival = now;
        seen[name] = known != pending.end() && known->second.size == size ? known->second : Pending{size, now};
    }
    // A file gone meanwhile (renamed by its writer) is forgotten.
    pending = std::move(seen);
    // Taken in name order while complete: a frame with a frame after it is; the newest only
    // once its size has settled (at the last look: stayed the same since the look before).
    while (!pending.empty()) {
        const auto first = pending.begin();
        const bool followed = std::next(first) != pending.end();
        const Pending& frame = first->second;
        const bool settled = frame.size > 0 && (last ? frame.changed < now : now - frame.changed >= kSettle);
        if (!followed && !settled)
            break;
        lastTaken = first->first;
        taken.insert(lastTaken);
        look.complete << lastTaken;
        pending.erase(first);
    }
    return look;
}

QStringList CFolderWatch::Incomplete() const
{
    QStringList names;
    for (const auto& [name, frame] : pending)
        names << name;
    return names;
}
