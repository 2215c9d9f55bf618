#pragma once

#include "register/run_result.h"
#include "register/run_settings.h"
#include "stream/video_stream.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

// The pictures of a run, drawn from its settings and result: its frames with the particles it
// counted circled in their class colour, the strip the window scrolls along, and the export.
// `frames` reads the frames as the run did: a stream set up from the run's settings and
// result (run_stream.h).

// Frame `index` as BGR, each record of that frame circled (radius 20, in the order the
// records are stored); empty when the frame cannot be read.
cv::Mat RenderRunFrame(const CVideoStream& frames, const RunSettings& settings, const RunResult& result, int index);

// The strip: the frames of interest laid side by side (counting line: the mosaic of the bands
// the frames swept, its counted particles circled). The last offset a window `viewWidth`
// wide can take (0 or more), and the frame-sized window at `offset`, clamped to the strip;
// columns no frame covers stay black. A null image before a frame size is known. Where two
// frames (bands) meet, a faint cyan seam; each piece's frame number (1-based) at its top,
// within the window's top kStripLabelRows rows; on the mosaic, the counting line (dashed)
// where it cut each band. A flow up or down is shown turned a quarter, overlays with it.
constexpr int kStripLabelRows = 18;
long long StripLastOffset(const RunSettings& settings, const RunResult& result, int viewWidth);
QImage ComposeStripWindow(const CVideoStream& frames, const RunSettings& settings, const RunResult& result, int offset);

// What the window at `offset` shows, for the readout beside the strip's slider: "frame 4, 35 %
// of the run", "frames 4 and 8, ..." (frames of interest), "frames 12 to 17, ..." (the
// mosaic's bands), "..., the whole run" when the strip fits the window. Empty before a run.
QString StripPositionText(const RunSettings& settings, const RunResult& result, int offset);

// Writes the pos_ (the frame as read) and res_ (the frame with the particles counted in it
// circled, drawn in the order its count found them) pictures of every frame of interest into
// `targetFolder` (counting line: of every frame that counted particles). The last frame of
// interest, when it was not taken whole, shows its new strip outlined, and grey beyond it. Returns the paths that could
// not be written (empty on success), among them those that would replace a frame of the counted folder through a link.
QStringList ExportRunPictures(const RunSettings& settings, const RunResult& result, const QString& targetFolder);
