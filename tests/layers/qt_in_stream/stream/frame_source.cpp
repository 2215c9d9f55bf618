#include "stream/video_stream.h"
#include <queue>
#include <opencv2/imgcodecs.hpp>
// Each of these is a Qt header.
#include <QtCore/QString>
#include <QtCore>
#  include <qstring.h>
#include "qglobal.h"
#include <qt6/QtCore/qthread.h>
#include "frame_source.moc"
#if __has_include(<QtGui/qimage.h>)
#endif
