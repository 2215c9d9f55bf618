#pragma once

#include <string>

// A JPEG file whose data stops early still decodes: the decoder fills the missing rows
// with grey and only prints a warning. Such a frame is not the one that was recorded,
// so the stream treats it as unreadable. True for a file that starts as a JPEG and ends
// before its end-of-image marker; false for complete JPEGs and for every other file.
bool IsTruncatedJpegFile(const std::string& path);
