#pragma once

#include "toolkit/particle_blob.h"

#include <opencv2/core.hpp>

// Particles of a frame as blobs for the counting-line count, found with any of the
// segmentation methods. Pure functions of their inputs: they may run on any thread.

// Every 8-connected region of a 0/1 mask with at least minPixels pixels: its pixel
// count as area, centroid, box, shape factors (Feret diameters and solidity of its
// pixels among them; blur 0), and whether it reaches the mask's edge.
ParticleBlobs BlobsFromMask(const cv::Mat& mask, int minPixels = 10);

// Method 4 "Background" (toolkit/background_detection.h: areas from summed darkness,
// overlaps split), or the mask's regions of method 1 "Otsu", 2 "Mode Value" or 3 "Frame
// Diff" on an 8-bit grey frame; the masks of methods 2 and 3 are opened with a 3 x 3
// square to drop specks of noise (Otsu's median filter has dropped them already).
// Method 3 marks what is darker than in the previous or the next frame (either may be
// empty: it then adds nothing). Other methods give no blobs.
ParticleBlobs DetectParticlesByMethod(const cv::Mat& grey, int method, const cv::Mat& previous = cv::Mat(),
                                      const cv::Mat& next = cv::Mat());
