#pragma once

// What a folder holds, to show that a count left its input as it was.

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QMap>
#include <QString>

#include <filesystem>

#include <sys/stat.h>

// Every entry of a folder by its name's bytes: mode, size, time and, of files up to 64 MB,
// the contents' hash. Links are taken as links. Empty when the folder does not exist.
inline QMap<QByteArray, QByteArray> Snapshot(const QString& folder)
{
    QMap<QByteArray, QByteArray> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(QFile::encodeName(folder).toStdString(), error), end;
         !error && it != end; it.increment(error)) {
        struct stat info {};
        ::lstat(it->path().c_str(), &info);
        QFile file(QFile::decodeName(it->path().c_str()));
        const bool hashed = S_ISREG(info.st_mode) && info.st_size <= (64 << 20) && file.open(QIODevice::ReadOnly);
        entries.insert(it->path().filename().c_str(),
                       QByteArray::number(info.st_mode) + ' ' + QByteArray::number(qint64(info.st_size)) + ' ' +
                           QByteArray::number(qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec) + ' ' +
                           QCryptographicHash::hash(hashed ? file.readAll() : "", QCryptographicHash::Md5).toHex());
    }
    return entries;
}
