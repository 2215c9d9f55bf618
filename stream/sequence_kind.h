#pragma once

// A sequence of frames: the image files of a folder, or one recording file holding every
// frame, a multi-page TIFF (a stack) or a video.
enum class SequenceKind { Folder, Stack, Video };
