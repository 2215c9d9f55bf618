// Breaks the layers: the stream uses Qt.
#include <QImage>
#include <queue>
