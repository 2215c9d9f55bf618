// Writing a flow: its frames and its truth files.

#include "tools/flowgen/flowgen_internal.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace flowgen {

std::string FrameFileName(int t, int frames, const std::string& extension)
{
    int digits = 4;
    for (int n = 10000; n < frames && digits < 9; n *= 10)
        ++digits;
    char name[64];
    std::snprintf(name, sizeof name, "frame_%0*d.%s", digits, t, extension.c_str());
    return name;
}

bool WriteFlow(const Flow& flow, const std::string& folder, const std::string& extension, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return fail("cannot create " + folder + ": " + ec.message());
    const int frames = static_cast<int>(flow.shifts.size());
    std::vector<int> params;
    if (extension == "jpg" || extension == "jpeg")
        params = {cv::IMWRITE_JPEG_QUALITY, flow.settings.jpegQuality};
    for (int t = 0; t < frames; ++t) {
        const std::string path = folder + "/" + FrameFileName(t, frames, extension);
        bool written = false;
        try {
            written = cv::imwrite(path, RenderFrame(flow, t), params);
        } catch (const cv::Exception& e) {
            return fail("cannot write " + path + ": " + e.what());
        }
        if (!written)
            return fail("cannot write " + path);
    }

    char line[1024];
    std::ofstream shifts(folder + "/shifts.csv");
    shifts << "frame,file,shift,offset,camera,gain\n";
    for (int t = 0; t < frames; ++t) {
        const size_t k = static_cast<size_t>(t);
        std::snprintf(line, sizeof line, "%d,%s,%d,%d,%d,%.4f\n", t, FrameFileName(t, frames, extension).c_str(),
                      flow.shifts[k], flow.offsets[k], flow.camera[k], flow.gains[k]);
        shifts << line;
    }
    if (!shifts)
        return fail("cannot write shifts.csv");

    std::ofstream parts(folder + "/particles.csv");
    parts << "id,x0,y,entry_frame,entry_x,area,cx0,cy,x_min,x_max,y_min,y_max,"
             "touch_id,union_area,shape,semi_major,semi_minor,angle_deg,grey,speed_factor,speed,across,"
             "true_area,feret_max,feret_min,solidity,defocus,turn_deg,ring_width,centre_share\n";
    for (const Particle& p : flow.particles) {
        const cv::Rect box = detail::StampBox(p.stamp, cv::Point(p.x0, p.y));
        std::snprintf(line, sizeof line,
                      "%d,%d,%d,%d,%d,%d,%.3f,%.3f,%d,%d,%d,%d,%d,%d,%s,%.3f,%.3f,%.1f,%d,%.6f,%.4f,%.3f,"
                      "%.4f,%.4f,%.4f,%.4f,%.3f,%.3f,%.3f,%.3f\n",
                      p.id, p.x0, p.y, p.entryFrame, p.entryX, p.area, p.centroid.x, p.centroid.y, box.x,
                      box.br().x - 1, box.y, box.br().y - 1, p.touchId, p.unionArea, ShapeName(p.shape), p.semiMajor,
                      p.semiMinor, p.angleDeg, p.grey, p.speedFactor, ParticleSpeed(flow, p), p.across, p.trueArea,
                      p.feretMax, p.feretMin, p.solidity, p.defocus, p.turnDeg, p.ringWidth, p.centreShare);
        parts << line;
    }
    if (!parts)
        return fail("cannot write particles.csv");

    // Where every particle is drawn in every frame that shows a pixel of it.
    std::ofstream tracks(folder + "/tracks.csv");
    tracks << "frame,id,x,y,cx,cy,x_min,x_max,y_min,y_max\n";
    const cv::Rect frame(0, 0, flow.settings.width, flow.settings.height);
    for (int t = 0; t < frames; ++t)
        for (const Particle& p : flow.particles) {
            const ParticleView v = ViewInFrame(flow, p, t);
            if ((v.box & frame).empty())
                continue;
            std::snprintf(line, sizeof line, "%d,%d,%d,%d,%.3f,%.3f,%d,%d,%d,%d\n", t, p.id, v.centre.x, v.centre.y,
                          v.centroid.x, v.centroid.y, v.box.x, v.box.br().x - 1, v.box.y, v.box.br().y - 1);
            tracks << line;
        }
    if (!tracks)
        return fail("cannot write tracks.csv");

    std::ofstream spots(folder + "/spots.csv");
    spots << "id,x,y,area,x_min,x_max,y_min,y_max,grey\n";
    for (size_t i = 0; i < flow.spots.size(); ++i) {
        const Spot& spot = flow.spots[i];
        const cv::Rect box = detail::StampBox(spot.stamp, spot.centre);
        std::snprintf(line, sizeof line, "%zu,%d,%d,%d,%d,%d,%d,%d,%d\n", i, spot.centre.x, spot.centre.y, spot.area,
                      box.x, box.br().x - 1, box.y, box.br().y - 1, spot.grey);
        spots << line;
    }
    if (!spots)
        return fail("cannot write spots.csv");
    return true;
}

}  // namespace flowgen
