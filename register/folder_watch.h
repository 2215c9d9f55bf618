#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <map>

// A folder that a camera is still writing frames into, looked at again and again by a
// run that counts the frames as they arrive. Frames are taken in the order a run over the
// finished folder takes them (ListFrameFiles by name, ascending), each once it is
// complete: a frame after it by name exists, or its size has stayed the same, and not 0,
// for kSettle. A frame whose name sorts before one already taken arrived too late for
// its place: it is left out and named. No threads, no Qt event loop: the caller looks
// when it likes (a short sleep between looks is enough).
class CFolderWatch {
public:
    using Clock = std::chrono::steady_clock;

    // How long a newest frame's size must stay the same before it counts as complete.
    static constexpr std::chrono::milliseconds kSettle{500};

    explicit CFolderWatch(QString folder);

    struct Look {
        QStringList complete;  // frames newly complete, in name order, after every frame taken before
        QStringList late;      // frames newly found sorting before a frame already taken
        bool gone = false;     // the folder is no longer there (nothing else is filled then)
    };
    // One look at the folder. With `last`, the watch ends: frames still being written
    // (their size changed since the look before, or 0) are never taken (Incomplete).
    Look LookAgain(bool last = false);

    // After the last look: the frames that never completed, in name order.
    QStringList Incomplete() const;
    // Time since the watch began or a new frame file last appeared.
    Clock::duration Idle() const { return Clock::now() - lastArrival; }

private:
    struct Pending {
        qint64 size = -1;
        Clock::time_point changed;  // when its size was last seen to change
    };

    QString folder;
    QString lastTaken;                 // the last frame taken, by name; empty before the first
    std::map<QString, Pending> pending;  // frames seen after lastTaken, not complete yet
    QSet<QString> taken;               // every frame taken
    QSet<QString> lateSeen;            // late frames named already
    Clock::time_point lastArrival;
};
