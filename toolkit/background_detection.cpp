#include "toolkit/background_detection.h"

#include "toolkit/background_candidates.h"
#include "toolkit/blurred_area.h"
#include "toolkit/darkness_region.h"
#include "toolkit/ellipse_union.h"
#include "toolkit/fibre_profile.h"
#include "toolkit/filled_parts.h"
#include "toolkit/hollow_particle.h"
#include "toolkit/particle_blur.h"
#include "toolkit/particle_measure.h"
#include "toolkit/shape_measures.h"
#include "toolkit/split_evidence.h"
#include "toolkit/weighted_observation.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
// The frame is smoothed by a 5 x 5 Gaussian of sigma 1 (sampled, so of standard
// deviation 0.96), which leaves 0.28 of a pixel's noise.
constexpr double kSmoothSigma = 0.96;
constexpr double kSmoothNoise = 0.28;
// A darker particle on a lighter one (FindInclusion): the peak must rise this far above
// what one particle shows, the two ellipses must lower the squared differences by this
// many times a pixel's noise variance, and the darker one must be this much darker and
// this large.
constexpr double kInclusionExcess = 0.025;
constexpr double kInclusionChi2 = 40.0;
constexpr double kInclusionContrast = 0.03;
constexpr double kInclusionPixels = 6.0;
// A frame whose pieces' outlines lie this close to their moment ellipses (median rms,
// pixels) holds elliptic particles.
constexpr double kEllipticFrameRms = 0.15;
// Spread of its area per square root of its outline's border points.
constexpr double kHollowEdgeSd = 0.5;
// A plateau: pixels this many (smoothed) blurs and a pixel inside the outline, at least
// this many of them. A piece without one is thin when its moment ellipse is this slim.
constexpr double kPlateauDepth = 2.5;
constexpr int kPlateauPixels = 3;
constexpr double kFibreAspect = 2.5;
// A frame of fibres: this share of its pieces slim at least. A blob of its fibres crossing
// or touching at an angle: its pixels less than this share of its hull, explained by
// ellipses down to this axis ratio, each slim.
constexpr double kFibreFrameShare = 0.3;
constexpr double kFibreBlobSolidity = 0.8;
constexpr double kFibreAxisRatio = 0.08;
// Nor on a slim particle (axis ratio below this): no plateau around a darker core.
constexpr double kInclusionRatio = 0.3;
// A particle of this many pixels at least shows its own blur at its edges (one sized by
// its summed darkness); a particle is sized at its own blur when it lies this many of
// its spreads and this far (and, read at the edges, this share) from the frame's.
constexpr double kOwnBlurPixels = 30.0;
constexpr double kOwnBlurSds = 3.0;
constexpr double kOwnBlurMargin = 0.05;
constexpr double kOwnBlurShare = 0.1;  // of the frame's blur: what the edge model's bias may differ by
// A single particle's own blur (from its whole darkness) is searched up to this, or
// twice the frame's.
constexpr double kOwnBlurMost = 6.0;

// Which ellipse of a piece's union each pixel of the piece's mask belongs to (1 + index,
// 0 elsewhere): of the pixels it owns, those whose smoothed darkness lies above `cut`;
// inside the union the darkest ellipse that holds it (where particles overlap the darker
// one shows), outside the nearest.
cv::Mat EllipseOwnership(const std::vector<Ellipse>& ellipses, const std::vector<double>& contrasts,
                         const cv::Mat& owner, int id, const cv::Mat& smoothDark, float cut)
{
    cv::Mat out = cv::Mat::zeros(owner.size(), CV_32S);
    const std::vector<EllipseDistance> distances(ellipses.begin(), ellipses.end());
    for (int y = 0; y < owner.rows; ++y)
        for (int x = 0; x < owner.cols; ++x) {
            if (owner.at<int>(y, x) != id || !(smoothDark.at<float>(y, x) > cut))
                continue;
            double nearest = 1e18, darkest = -1.0;
            int which = 0, inside = 0;
            for (size_t i = 0; i < ellipses.size(); ++i) {
                const double f = distances[i](cv::Point2d(x, y));
                if (f < nearest)
                    nearest = f, which = static_cast<int>(i) + 1;
                if (f < 0.0 && contrasts[i] > darkest)
                    darkest = contrasts[i], inside = static_cast<int>(i) + 1;
            }
            out.at<int>(y, x) = inside ? inside : which;
        }
    return out;
}

// A darker particle lying on a lighter one leaves the outline nearly one ellipse, but
// the darkness peaks higher than a single particle of the measured contrast and size
// can show through the blur. Where it does by more than the noise explains, the two
// ellipses (the lighter particle and one around the darker peak) are refined on the
// darkness and kept when they explain it clearly better than one does.
bool FindInclusion(const DarknessRegion& r, const cv::Mat& pieceMask, const std::function<cv::Mat()>& ownedNear,
                   const WeightedObservation& o, const BlurredEllipse& single, double blur, std::vector<Ellipse>& ellipses,
                   std::vector<double>& contrastsOut)
{
    if (r.atEdge)
        return false;
    double peak = 0.0;
    cv::minMaxLoc(r.smoothDark, nullptr, &peak, nullptr, nullptr, pieceMask);
    Ellipse host;
    host.centre = o.centre;
    host.a = std::sqrt(single.area / (kPi * single.ratio));
    host.b = host.a * single.ratio;
    host.angle = o.angle;
    const double shown = single.contrast * GaussianMassInEllipse(host.a, host.b, std::hypot(blur, kSmoothSigma));
    // How far the peak rises above what one particle shows, against the largest
    // excursion of the smoothed noise over a particle's pixels.
    const double excess = peak - shown;
    if (excess < std::max(kInclusionExcess, 4.5 * kSmoothNoise * r.noise))
        return false;
    std::vector<cv::Point2d> dark;
    for (int y = 0; y < pieceMask.rows; ++y)
        for (int x = 0; x < pieceMask.cols; ++x)
            if (pieceMask.at<uchar>(y, x) && r.smoothDark.at<float>(y, x) > shown + 0.5 * excess)
                dark.emplace_back(x, y);
    if (dark.size() < 3)
        return false;
    Ellipse inclusion = MomentEllipse(dark);
    std::vector<Ellipse> one = {host}, two = {host, inclusion};
    const cv::Mat region = ownedNear();
    double cost1 = 0.0, cost2 = 0.0;
    RefineUnionOnDarkness(r.dark, region, blur, one, 2, &cost1);
    const std::vector<double> contrasts =
        RefineUnionOnDarkness(r.dark, region, blur, two, 3, &cost2, {single.contrast, single.contrast + excess});
    const double noise2 = std::max(r.noise * r.noise, 1e-6);
    // A contrast near 1 (black) is a fit that shrank a small ellipse into a spike.
    if ((cost1 - cost2) / noise2 < kInclusionChi2 || contrasts[1] < contrasts[0] + kInclusionContrast ||
        contrasts[1] > 0.98 || two[1].Area() < kInclusionPixels)
        return false;
    ellipses = two;
    contrastsOut = contrasts;
    return true;
}

// 0/1 mask of the drawn particles (CV_32S, 1 .. count) less, where two particles touch,
// the pixels of the larger one along the contact, so that they stay apart under
// 8-connectivity and a small particle keeps its pixels.
cv::Mat SeparatedMask(const cv::Mat& drawn, int count)
{
    std::vector<int> area(static_cast<size_t>(count) + 1, 0);
    for (int y = 0; y < drawn.rows; ++y)
        for (int x = 0; x < drawn.cols; ++x)
            ++area[static_cast<size_t>(drawn.at<int>(y, x))];
    const auto yields = [&](int v, int w) {  // v gives way to w
        return area[static_cast<size_t>(v)] > area[static_cast<size_t>(w)] ||
               (area[static_cast<size_t>(v)] == area[static_cast<size_t>(w)] && v > w);
    };
    cv::Mat out = cv::Mat::zeros(drawn.size(), CV_8UC1);
    for (int y = 0; y < drawn.rows; ++y)
        for (int x = 0; x < drawn.cols; ++x) {
            const int v = drawn.at<int>(y, x);
            if (!v)
                continue;
            bool keep = true;
            for (int dy = -1; dy <= 1 && keep; ++dy)
                for (int dx = -1; dx <= 1 && keep; ++dx) {
                    const int yy = y + dy, xx = x + dx;
                    if (yy >= 0 && yy < drawn.rows && xx >= 0 && xx < drawn.cols) {
                        const int w = drawn.at<int>(yy, xx);
                        keep = w == 0 || w == v || !yields(v, w);
                    }
                }
            out.at<uchar>(y, x) = keep ? 1 : 0;
        }
    // One piece per particle: a particle cut in two by a darker one keeps its larger part.
    const std::vector<FilledPart> pieces = ConnectedParts(out);
    std::vector<int> best(static_cast<size_t>(count) + 1, -1), bestArea(static_cast<size_t>(count) + 1, 0);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const cv::Vec3i& last = pieces[i].runs.back();
        const size_t v = static_cast<size_t>(drawn.at<int>(last[0], last[2]));
        if (pieces[i].pixels > bestArea[v])
            bestArea[v] = pieces[i].pixels, best[v] = static_cast<int>(i);
    }
    out.setTo(0);
    for (size_t v = 1; v < best.size(); ++v)
        if (best[v] >= 0)
            for (const cv::Vec3i& run : pieces[static_cast<size_t>(best[v])].runs)
                std::fill(out.ptr<uchar>(run[0]) + run[1], out.ptr<uchar>(run[0]) + run[2] + 1, 1);
    return out;
}

void SetShape(ParticleBlob& blob, const ShapeMeasures& shape)
{
    blob.feretMax = shape.feretMax;
    blob.feretMin = shape.feretMin;
    blob.solidity = shape.solidity;
}

// Stage 1: the candidate pixels of a frame against its coarse background, as runs
// joined into regions, and the pixels near them (which the local background fits leave out).
struct Candidates {
    cv::Mat grid;    // block background
    cv::Mat smooth;  // the frame smoothed by a 5 x 5 Gaussian
    CandidateRuns runs;
    NearCandidates near;
};

Candidates FindCandidates(const cv::Mat& grey, const BackgroundDetectionSettings& settings)
{
    cv::Mat grid = BlockBackground(grey), smooth;
    cv::GaussianBlur(grey, smooth, cv::Size(5, 5), 1.0);
    CandidateRuns runs = settings.faintDarkness < settings.detectionDarkness
                             ? CandidateRuns::WithFaint(smooth, grid, settings.detectionDarkness, settings.faintDarkness)
                             : CandidateRuns(smooth, grid, settings.detectionDarkness);
    NearCandidates near(runs, grey.size(), kWideMargin);
    return {std::move(grid), std::move(smooth), std::move(runs), std::move(near)};
}

// Stage 2: every region of enough candidate pixels read against the plane of its
// surrounding background, with its pieces at the outline level.
struct Regions {
    std::vector<DarknessRegion> regions;
    std::vector<std::vector<RegionPiece>> piecesOf;  // beside each region
    // How far the outline of a single particle may lie from its moment ellipse (rms,
    // pixels) for it to count as an ellipse: pieces further off are irregular or merged.
    double ellipseRms = UnionSettings().singleRms;
    // Most pieces' outlines are ellipses: a blob a union of ellipses explains markedly
    // better than one is several particles (see SplitEvidence).
    bool ellipticParticles = false;
};

Regions ReadRegions(const cv::Mat& grey, const Candidates& c, const BackgroundDetectionSettings& settings)
{
    Regions out;
    for (int k = 1; k <= static_cast<int>(c.runs.regions.size()); ++k) {
        if (c.runs.regions[static_cast<size_t>(k - 1)].pixels < settings.minPixels)
            continue;
        DarknessRegion r;
        std::vector<RegionPiece> pieces;
        ReadRegion(grey, c.smooth, c.grid, c.runs, c.near, k, settings.splitOverlaps, r, pieces);
        out.regions.push_back(std::move(r));
        out.piecesOf.push_back(std::move(pieces));
    }
    return out;
}

// A piece's pixels over the area of its outline's convex hull.
double Solidity(const RegionPiece& p)
{
    if (p.outline.size() < 3)
        return 1.0;
    std::vector<cv::Point2f> points(p.outline.begin(), p.outline.end()), hull;
    cv::convexHull(points, hull);
    const double area = cv::contourArea(hull);
    return area > 0.0 ? std::min(1.0, cv::countNonZero(p.mask) / area) : 1.0;
}

// Stage 3: merged particles: pieces whose outline one ellipse fits clearly worse than it
// fits most pieces of the frame, which are single particles, explained by unions of
// ellipses.
void ExplainMergedPieces(Regions& frame, const BackgroundDetectionSettings& settings)
{
    if (!settings.splitOverlaps)
        return;
    std::vector<double> rms;
    for (const std::vector<RegionPiece>& pieces : frame.piecesOf)
        for (const RegionPiece& p : pieces)
            rms.push_back(p.shape.rms);
    UnionSettings us;
    if (!rms.empty()) {
        std::nth_element(rms.begin(), rms.begin() + rms.size() / 2, rms.end());
        us.singleRms = std::clamp(settings.splitRmsFactor * rms[rms.size() / 2], 0.06, 0.25);
        frame.ellipticParticles = rms[rms.size() / 2] <= kEllipticFrameRms;
    }
    frame.ellipseRms = us.singleRms;
    // A frame of fibres: a blob of them crossing or touching at an angle is far from
    // convex, and slim ellipses explain it.
    size_t slim = 0;
    for (const std::vector<RegionPiece>& pieces : frame.piecesOf)
        for (const RegionPiece& p : pieces)
            slim += p.shape.ellipses[0].a > kFibreAspect * p.shape.ellipses[0].b;
    const bool fibreFrame = !rms.empty() && static_cast<double>(slim) >= kFibreFrameShare * static_cast<double>(rms.size());
    UnionSettings fibres = us;
    fibres.minAxisRatio = kFibreAxisRatio;
    fibres.singleRms = 0.0;
    for (std::vector<RegionPiece>& pieces : frame.piecesOf)
        for (RegionPiece& p : pieces) {
            p.singleRms = p.shape.rms;
            p.elliptic = p.shape.rms <= us.singleRms;
            if (fibreFrame && Solidity(p) < kFibreBlobSolidity) {
                const EllipseUnion u = ExplainOutline(p.outline, p.mask, fibres);
                p.fibres = u.ellipses.size() > 1 && std::all_of(u.ellipses.begin(), u.ellipses.end(), [](const Ellipse& e) {
                               return e.a > kFibreAspect * e.b || e.b > kFibreAspect * e.a;
                           });
                if (p.fibres) {
                    p.shape = u;
                    continue;
                }
            }
            if (p.shape.rms > us.singleRms)
                p.shape = ExplainOutline(p.outline, p.mask, us);
        }
}

// Stage 5: the particles of one region, appended to the result, and with the frame's
// mask their pixels drawn into it.
class RegionParticles {
public:
    RegionParticles(const cv::Mat& frame, const DarknessRegion& region, const std::vector<RegionPiece>& regionPieces,
                    const FrameBlur& blur, double frameEllipseRms, bool elliptic, const BackgroundDetectionSettings& detection,
                    bool drawMask, int& groupCount, BackgroundDetection& out)
        : grey(frame)
        , r(region)
        , pieces(regionPieces)
        , sigma(blur.sigma)
        , ownFocus(blur.varied)
        , ellipseRms(frameEllipseRms)
        , ellipticParticles(elliptic)
        , settings(detection)
        , frameMask(drawMask)
        , groups(groupCount)
        , result(out)
        , owner(Ownership(region, regionPieces))
    {
        if (frameMask)
            drawn = cv::Mat::zeros(r.roi.size(), CV_32S);
    }

    void Measure()
    {
        for (size_t pi = 0; pi < pieces.size(); ++pi)
            MeasurePiece(static_cast<int>(pi) + 1);
        if (frameMask)
            DrawMask();
    }

private:
    // One piece: one particle measured by its weighted darkness, or the particles of the
    // ellipses that explain a merged blob (or a darker particle on a lighter one), each
    // sized by its ellipse.
    void MeasurePiece(int id)
    {
        const RegionPiece& piece = pieces[static_cast<size_t>(id - 1)];
        // The parts of a union the blob gives no evidence for: one particle, whose
        // parts a track that sees them apart in another frame may choose.
        std::vector<BlobPart> possible;
        if (piece.fibres) {
            EmitFibres(id, piece);
            return;
        }
        if (piece.shape.ellipses.size() > 1) {
            std::vector<Ellipse> ellipses = piece.shape.ellipses;
            const std::vector<double> contrasts = RefineUnionOnDarkness(r.dark, OwnedNear(id, sigma), sigma, ellipses, 1);
            // Among elliptic particles a blob that ellipses explain markedly better than one
            // is several (the frame's singles show it); elsewhere it must show so itself.
            if (ellipticParticles ||
                WeighSplit(piece.mask, ellipses, contrasts, piece.singleRms, piece.shape.rms).Convincing()) {
                EmitUnion(id, ellipses, contrasts);
                return;
            }
            for (const Ellipse& e : ellipses)
                possible.push_back({e.centre + cv::Point2d(r.roi.x, r.roi.y), e.Area()});
        }
        if (piece.hollowRim > 0.0f) {
            EmitHollow(id, piece.hollowRim, std::move(possible));
            return;
        }
        // A slim particle (a fibre; no ellipse of the generator's or of most real flows is
        // as slim), or among irregular particles one whose outline is no ellipse: sized by
        // its summed darkness over its contrast, read on its plateau or across it, when
        // either shows. (Among ellipses an irregular piece is mostly a blob of merged
        // ones, whose weighted sums hold more of each.)
        if ((Slim(piece) || (!ellipticParticles && piece.singleRms > ellipseRms)) && EmitSummed(id, piece, possible))
            return;
        const SingleView v = ObserveSingle(id, piece);
        if (v.measure.ellipse.area <= 0.0)
            return;
        // A darker particle on a lighter one shows only on an elliptic outline, wide
        // enough for a plateau around the darker one.
        const bool inclusionInView = settings.splitOverlaps && possible.empty() && piece.singleRms <= ellipseRms &&
                                     v.measure.ellipse.ratio >= kInclusionRatio;
        std::vector<Ellipse> ellipses;
        std::vector<double> contrasts;
        if (inclusionInView && FindInclusion(r, piece.mask, [&] { return OwnedNear(id, v.blur); }, v.observation,
                                             v.measure.ellipse, v.blur, ellipses, contrasts)) {
            EmitUnion(id, ellipses, contrasts);
            return;
        }
        EmitSingle(id, v, std::move(possible));
    }

    // A single particle: its weighted sums at the frame's blur, or at its own where its
    // edges show another clearly (each particle its own focus).
    struct SingleView {
        WeightedObservation observation;
        SingleMeasure measure;
        double blur = 0.0;
    };

    SingleView ObserveSingle(int id, const RegionPiece& piece) const
    {
        SingleView v;
        const double pixels = cv::countNonZero(piece.mask);
        v.blur = sigma;
        v.observation = Observe(r, owner, id, pixels, sigma);
        v.measure = MeasureSingle(v.observation, r.noise, sigma);
        if (!ownFocus || v.measure.ellipse.area <= 0.0)
            return v;
        // Its own blur from its whole darkness: the edges alone read a strong blur low and
        // a small particle shows none.
        const BlurFit fit = OwnBlurOfWholeParticle(r, v.observation, owner, id, std::max(kOwnBlurMost, 2.0 * sigma));
        const double own = fit.sigma;
        if (own < 0.0 || std::abs(own - sigma) <= kOwnBlurSds * fit.sd + kOwnBlurMargin)
            return v;
        SingleView mine;
        mine.blur = own;
        mine.observation = Observe(r, owner, id, pixels, own);
        mine.measure = MeasureSingle(mine.observation, r.noise, own);
        return mine.measure.ellipse.area > 0.0 ? mine : v;
    }

    // The pixels piece `id` owns within the reach of a blur from its outline.
    cv::Mat OwnedNear(int id, double blur) const
    {
        const int reach = static_cast<int>(std::ceil(3.0 * blur)) + 2;
        const cv::Rect near = (cv::boundingRect(pieces[static_cast<size_t>(id - 1)].mask) +
                               cv::Size(2 * reach, 2 * reach) - cv::Point(reach, reach)) &
                              cv::Rect(cv::Point(), r.roi.size());
        cv::Mat region = cv::Mat::zeros(r.roi.size(), CV_8UC1);
        for (int y = near.y; y < near.br().y; ++y)
            for (int x = near.x; x < near.br().x; ++x)
                region.at<uchar>(y, x) = owner.at<int>(y, x) == id;
        return region;
    }

    // A single particle sized by its weighted darkness; its mask cut where the darkest of
    // its pixels, as many as its area, reach.
    void EmitSingle(int id, const SingleView& v, std::vector<BlobPart> possible)
    {
        const WeightedObservation& o = v.observation;
        const SingleMeasure& m = v.measure;
        const float level = static_cast<float>(MaskLevel(r.smoothDark, owner, id, m.ellipse.area, m.ellipse.contrast));
        const FilledPart part = OwnedAbove(id, level);
        ParticleBlob blob;
        blob.centroid = o.centre + cv::Point2d(r.roi.x, r.roi.y);
        blob.area = m.ellipse.area;
        blob.contrast = m.ellipse.contrast;
        blob.areaSd = m.areaSd;
        blob.possibleParts = std::move(possible);
        blob.blur = v.blur;
        if (!part.border.empty())
            ContourShapeFactors(part.border, blob.ratio, blob.circularity);
        SetShape(blob, MeasureShape(part.border, part.pixels));
        Emit(blob, part.pixels, part.box, [&](int drawId) {
            for (const cv::Vec3i& run : part.runs)
                std::fill(drawn.ptr<int>(run[0]) + run[1], drawn.ptr<int>(run[0]) + run[2] + 1, drawId);
        });
    }

    // The contrast of a particle of any shape: the mean darkness of its pixels beyond the
    // blur's reach of its outline (its plateau) or, for a thin particle without one, the
    // contrast its profile across shows (toolkit/fibre_profile.h). Its area is then its
    // darkness summed over the pixels it owns within the blur's reach, over the contrast:
    // blur spreads the darkness without changing its sum. False when neither shows.
    bool EmitSummed(int id, const RegionPiece& piece, std::vector<BlobPart>& possible)
    {
        const cv::Rect box = cv::boundingRect(piece.mask);
        // Its own blur where its edges show one clearly apart from the frame's.
        double blur = sigma;
        const int pixels = cv::countNonZero(piece.mask);
        if (ownFocus && pixels >= kOwnBlurPixels && !Slim(piece)) {
            double peak = 0.0;
            cv::minMaxLoc(r.smoothDark, nullptr, &peak, nullptr, nullptr, piece.mask);
            const BlurFit own = BlurOfOutline(r, piece, sigma, peak, owner, id);
            if (own.sigma >= 0.0 &&
                std::abs(own.sigma - sigma) > kOwnBlurSds * own.sd + kOwnBlurMargin + kOwnBlurShare * sigma)
                blur = own.sigma;
        }
        cv::Mat inside, depth;
        cv::copyMakeBorder(piece.mask(box), inside, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(0));
        cv::distanceTransform(inside, depth, cv::DIST_L2, cv::DIST_MASK_5);
        const float deep = static_cast<float>(kPlateauDepth * std::hypot(blur, kSmoothSigma) + 1.0);
        double plateau = 0.0, plateau2 = 0.0;
        int n = 0;
        for (int y = 0; y < box.height; ++y)
            for (int x = 0; x < box.width; ++x)
                if (depth.at<float>(y + 1, x + 1) >= deep && owner.at<int>(y + box.y, x + box.x) == id) {
                    const double d = r.dark.at<float>(y + box.y, x + box.x);
                    plateau += d, plateau2 += d * d, ++n;
                }
        double contrast = 0.0, contrastSd = 0.0, fibreWidth = 0.0;
        if (n >= kPlateauPixels) {
            contrast = plateau / n;
            contrastSd = r.noise / std::sqrt(static_cast<double>(n));
        } else {
            const EllipseUnion moments = FitSingleEllipse(piece.outline, piece.mask, 0);
            const Ellipse& e = moments.ellipses[0];
            if (e.a < kFibreAspect * e.b)
                return false;
            // Along its middle, clear of its ends by the blur's reach: a rod of length L has
            // a = L / sqrt 3.
            const double halfLength = std::max(1.0, 0.5 * (std::sqrt(3.0) * e.a - 2.0 * e.b) - 2.0 * blur);
            const FibreProfile f = FitFibreProfile(r.dark, owner, id, e.centre, e.angle, halfLength, blur, r.noise);
            if (!f.valid)
                return false;
            contrast = f.contrast, contrastSd = f.contrastSd, fibreWidth = f.width;
        }
        if (contrast <= 0.0)
            return false;
        const cv::Mat near = OwnedNear(id, blur);
        double sum = 0.0, sx = 0.0, sy = 0.0;
        int count = 0;
        for (int y = 0; y < near.rows; ++y) {
            const uchar* m = near.ptr<uchar>(y);
            const float* d = r.dark.ptr<float>(y);
            for (int x = 0; x < near.cols; ++x)
                if (m[x])
                    sum += d[x], sx += d[x] * x, sy += d[x] * y, ++count;
        }
        if (sum <= 0.0)
            return false;
        ParticleBlob blob;
        blob.centroid = cv::Point2d(sx / sum + r.roi.x, sy / sum + r.roi.y);
        blob.area = sum / contrast;
        blob.contrast = contrast;
        blob.areaSd = std::hypot(r.noise * std::sqrt(static_cast<double>(count)) / contrast, blob.area * contrastSd / contrast);
        blob.possibleParts = std::move(possible);
        blob.blur = blur;
        const float half = static_cast<float>(0.5 * contrast);
        const FilledPart part = OwnedAbove(id, half);
        if (!part.border.empty())
            ContourShapeFactors(part.border, blob.ratio, blob.circularity);
        if (fibreWidth > 0.0) {
            // A capsule of width w and length L holds w (L - w) + pi w^2 / 4.
            blob.feretMin = fibreWidth;
            blob.feretMax = (blob.area - 0.25 * kPi * fibreWidth * fibreWidth) / fibreWidth + fibreWidth;
            blob.solidity = 1.0;
        } else {
            SetShape(blob, MeasureShape(part.border, part.pixels));
        }
        Emit(blob, part.pixels, part.box, [&](int drawId) {
            for (const cv::Vec3i& run : part.runs)
                std::fill(drawn.ptr<int>(run[0]) + run[1], drawn.ptr<int>(run[0]) + run[2] + 1, drawId);
        });
        return true;
    }

    // A piece whose moment ellipse is slim.
    static bool Slim(const RegionPiece& piece)
    {
        // A copy: the single fit is a temporary.
        const Ellipse e = piece.shape.ellipses.size() == 1 ? piece.shape.ellipses[0]
                                                           : FitSingleEllipse(piece.outline, piece.mask, 0).ellipses[0];
        return e.a > kFibreAspect * e.b;
    }

    // The largest part, holes filled, of the pixels piece `id` owns whose smoothed darkness
    // lies above a level.
    FilledPart OwnedAbove(int id, float level) const
    {
        cv::Mat above(r.roi.size(), CV_8UC1);
        for (int y = 0; y < above.rows; ++y) {
            const float* sd = r.smoothDark.ptr<float>(y);
            const int* ow = owner.ptr<int>(y);
            uchar* a = above.ptr<uchar>(y);
            for (int x = 0; x < above.cols; ++x)
                a[x] = ow[x] == id && sd[x] > level;
        }
        return LargestPart(above);
    }

    // A hollow particle sized by its filled outline: the ellipse of the pixels inside where
    // its smoothed darkness crosses half its rim's, moved out to the outer edge that the
    // darkness across it shows (toolkit/hollow_particle.h).
    void EmitHollow(int id, float rim, std::vector<BlobPart> possible)
    {
        const FilledPart part = OwnedAbove(id, 0.5f * rim);
        if (part.pixels == 0)
            return;
        std::vector<cv::Point2d> pixels;
        for (const cv::Vec3i& run : part.runs)
            for (int x = run[1]; x <= run[2]; ++x)
                pixels.emplace_back(x, run[0]);
        const Ellipse outline = MomentEllipse(pixels);
        const HollowEdge edge = FitHollowEdge(r.dark, owner, id, outline, sigma, rim);
        ParticleBlob blob;
        blob.centroid = outline.centre + cv::Point2d(r.roi.x, r.roi.y);
        if (edge.valid) {
            blob.area = kPi * std::max(0.0, outline.a + edge.shift) * std::max(0.0, outline.b + edge.shift);
            blob.contrast = edge.contrast;
            blob.blur = edge.blur;
        } else {  // what the blur rounds off a closed outline: pi s^2 (s^2 k / 2 summed over it)
            blob.area = part.pixels + kPi * (sigma * sigma + kSmoothSigma * kSmoothSigma);
            blob.contrast = rim;
            blob.blur = sigma;
        }
        blob.areaSd = std::sqrt(static_cast<double>(part.border.size())) * kHollowEdgeSd + 0.5;
        blob.possibleParts = std::move(possible);
        if (!part.border.empty())
            ContourShapeFactors(part.border, blob.ratio, blob.circularity);
        SetShape(blob, edge.valid ? EllipseShape(outline.a + edge.shift, outline.b + edge.shift)
                                  : MeasureShape(part.border, part.pixels));
        Emit(blob, part.pixels, part.box, [&](int drawId) {
            for (const cv::Vec3i& run : part.runs)
                std::fill(drawn.ptr<int>(run[0]) + run[1], drawn.ptr<int>(run[0]) + run[2] + 1, drawId);
        });
    }

    // Fibres crossing or touching in one blob: each the pixels nearest its ellipse and
    // those its ellipse shares with another (where they cross, both lie), sized by their
    // summed darkness over the contrast its profile across shows; one group.
    void EmitFibres(int id, const RegionPiece& piece)
    {
        const std::vector<Ellipse>& ellipses = piece.shape.ellipses;
        const std::vector<EllipseDistance> distances(ellipses.begin(), ellipses.end());
        const cv::Mat near = OwnedNear(id, sigma);
        std::vector<double> sum(ellipses.size(), 0.0), sx(ellipses.size(), 0.0), sy(ellipses.size(), 0.0);
        std::vector<int> count(ellipses.size(), 0);
        cv::Mat parts = cv::Mat::zeros(r.roi.size(), CV_32S);
        for (int y = 0; y < near.rows; ++y)
            for (int x = 0; x < near.cols; ++x) {
                if (!near.at<uchar>(y, x))
                    continue;
                const double d = r.dark.at<float>(y, x);
                size_t nearest = 0;
                double least = 1e18;
                for (size_t e = 0; e < ellipses.size(); ++e) {
                    const double f = distances[e](cv::Point2d(x, y));
                    if (f < 0.0)
                        sum[e] += d, sx[e] += d * x, sy[e] += d * y, ++count[e];
                    if (f < least)
                        least = f, nearest = e;
                }
                if (least >= 0.0)
                    sum[nearest] += d, sx[nearest] += d * x, sy[nearest] += d * y, ++count[nearest];
                if (piece.mask.at<uchar>(y, x))
                    parts.at<int>(y, x) = static_cast<int>(nearest) + 1;
            }
        const int group = groups++;
        for (size_t e = 0; e < ellipses.size(); ++e) {
            const Ellipse& el = ellipses[e];
            const double halfLength = std::max(1.0, 0.5 * std::max(el.a, el.b) - 2.0 * sigma);
            const double angle = el.a >= el.b ? el.angle : el.angle + 0.5 * kPi;
            const cv::Mat own = parts == static_cast<int>(e + 1);
            cv::Mat ownedBy = cv::Mat::zeros(r.roi.size(), CV_32S);
            ownedBy.setTo(1, own);
            const FibreProfile f = FitFibreProfile(r.dark, ownedBy, 1, el.centre, angle, halfLength, sigma, r.noise);
            if (!f.valid || sum[e] <= 0.0)
                continue;
            ParticleBlob blob;
            blob.centroid = cv::Point2d(sx[e] / sum[e] + r.roi.x, sy[e] / sum[e] + r.roi.y);
            blob.area = sum[e] / f.contrast;
            blob.contrast = f.contrast;
            blob.areaSd = 0.1 * blob.area;
            blob.group = group;
            blob.blur = sigma;
            SetShape(blob, EllipseShape(el.a, el.b));
            const FilledPart part = LargestPart(own / 255);
            if (!part.border.empty())
                ContourShapeFactors(part.border, blob.ratio, blob.circularity);
            Emit(blob, part.pixels, part.box, [&](int drawId) {
                for (const cv::Vec3i& run : part.runs)
                    std::fill(drawn.ptr<int>(run[0]) + run[1], drawn.ptr<int>(run[0]) + run[2] + 1, drawId);
            });
        }
    }

    // The particles of a union of ellipses refined on the darkness, each sized by its own
    // ellipse, one group.
    void EmitUnion(int id, const std::vector<Ellipse>& ellipses, const std::vector<double>& contrasts)
    {
        const float cut = static_cast<float>(kOutlineLevel * r.peak);
        const cv::Mat parts = EllipseOwnership(ellipses, contrasts, owner, id, r.smoothDark, cut);
        const int group = groups++;
        for (size_t e = 0; e < ellipses.size(); ++e) {
            const Ellipse& el = ellipses[e];
            ParticleBlob blob;
            blob.centroid = el.centre + cv::Point2d(r.roi.x, r.roi.y);
            blob.area = el.Area();
            blob.contrast = contrasts[e];
            blob.areaSd = 0.1 * blob.area;
            blob.group = group;
            // Its pixels: those of the piece's mask its ellipse owns.
            const int label = static_cast<int>(e + 1);
            int owned = 0, left = parts.cols, top = parts.rows, right = -1, bottom = -1;
            for (int y = 0; y < parts.rows; ++y) {
                const int* pa = parts.ptr<int>(y);
                for (int x = 0; x < parts.cols; ++x)
                    if (pa[x] == label) {
                        ++owned;
                        left = std::min(left, x), right = std::max(right, x);
                        top = std::min(top, y), bottom = y;
                    }
            }
            // Drawn within its box (and the roi) alone: the same pixels, moved.
            const cv::RotatedRect drawnAt(el.centre, cv::Size2f(static_cast<float>(2 * el.a), static_cast<float>(2 * el.b)),
                                          static_cast<float>(el.angle * 180.0 / kPi));
            const cv::Rect within = (drawnAt.boundingRect() + cv::Size(4, 4) - cv::Point(2, 2)) & cv::Rect(cv::Point(), r.roi.size());
            cv::Mat whole = cv::Mat::zeros(within.size(), CV_8UC1);
            cv::ellipse(whole,
                        cv::RotatedRect(drawnAt.center - cv::Point2f(within.tl()), drawnAt.size, drawnAt.angle),
                        cv::Scalar(1), cv::FILLED);
            // A filled ellipse is one part without holes: its outer border.
            const std::vector<FilledPart> drawnEllipse = FilledParts(whole, true);
            if (!drawnEllipse.empty())
                ContourShapeFactors(drawnEllipse[0].border, blob.ratio, blob.circularity);
            SetShape(blob, EllipseShape(el.a, el.b));
            Emit(blob, owned, cv::Rect(left, top, right - left + 1, bottom - top + 1), [&](int drawId) {
                for (int y = 0; y < parts.rows; ++y) {
                    const int* pa = parts.ptr<int>(y);
                    int* d = drawn.ptr<int>(y);
                    for (int x = 0; x < parts.cols; ++x)
                        if (pa[x] == label)
                            d[x] = drawId;
                }
            });
        }
    }

    // A particle with its mask's pixels and box (roi coordinates); with the frame's mask,
    // drawn into the region's by `draw` under the next id.
    template <typename Draw> void Emit(ParticleBlob blob, int pixels, const cv::Rect& box, const Draw& draw)
    {
        if (pixels == 0)
            return;
        ++drawnId;
        if (frameMask)
            draw(drawnId);
        blob.maskArea = pixels;
        blob.box = box + r.roi.tl();
        blob.touchesBorder = r.atEdge || blob.box.x == 0 || blob.box.y == 0 || blob.box.br().x == grey.cols ||
                             blob.box.br().y == grey.rows;
        result.blobs.push_back(blob);
    }

    // The region's particles into the frame's mask, kept apart where they touch.
    void DrawMask()
    {
        if (drawnId > 1) {
            result.mask(r.roi) |= SeparatedMask(drawn, drawnId);
            return;
        }
        for (int y = 0; y < drawn.rows; ++y) {
            const int* d = drawn.ptr<int>(y);
            uchar* m = result.mask.ptr<uchar>(r.roi.y + y) + r.roi.x;
            for (int x = 0; x < drawn.cols; ++x)
                if (d[x])
                    m[x] = 1;
        }
    }

    const cv::Mat& grey;
    const DarknessRegion& r;
    const std::vector<RegionPiece>& pieces;
    const double sigma;       // the frame's blur
    const bool ownFocus;      // each particle its own focus (FrameBlur::varied)
    const double ellipseRms;        // Regions::ellipseRms
    const bool ellipticParticles;  // Regions::ellipticParticles
    const BackgroundDetectionSettings& settings;
    const bool frameMask;
    int& groups;
    BackgroundDetection& result;
    const cv::Mat owner;
    cv::Mat drawn;  // CV_32S: the region's particles by id, with the frame's mask
    int drawnId = 0;
};

// The detection; the frame's mask only when asked for (the particles do without it).
BackgroundDetection Segment(const cv::Mat& grey, const BackgroundDetectionSettings& settings, bool frameMask)
{
    BackgroundDetection result;
    if (grey.empty() || grey.type() != CV_8UC1)
        return result;
    if (frameMask)
        result.mask = cv::Mat::zeros(grey.size(), CV_8UC1);
    const Candidates candidates = FindCandidates(grey, settings);
    Regions frame = ReadRegions(grey, candidates, settings);
    ExplainMergedPieces(frame, settings);
    // Stage 4: the frame's blur.
    FrameBlur blur;
    if (settings.blurSigma >= 0.0) {
        blur.sigma = settings.blurSigma;
    } else {
        // Ellipses by their ellipses; a frame of irregular particles by their outlines, or
        // by its ellipses when too few show one.
        if (frame.ellipticParticles || (blur = MeasureIrregularFrameBlur(frame.regions, frame.piecesOf)).particles == 0)
            blur = MeasureFrameBlur(frame.regions, frame.piecesOf);
        if (blur.particles == 0)
            if (const FrameBlur thin = MeasureFibreFrameBlur(frame.regions, frame.piecesOf); thin.particles > 0)
                blur = thin;
        result.blurParticles = blur.particles;
    }
    result.blurSigma = blur.sigma;
    int groups = 0;
    for (size_t i = 0; i < frame.regions.size(); ++i)
        if (!frame.piecesOf[i].empty())
            RegionParticles(grey, frame.regions[i], frame.piecesOf[i], blur, frame.ellipseRms, frame.ellipticParticles, settings,
                            frameMask, groups, result)
                .Measure();
    return result;
}

}  // namespace

BackgroundDetection SegmentParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings)
{
    return Segment(grey, settings, true);
}

ParticleBlobs DetectParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings)
{
    return Segment(grey, settings, false).blobs;
}

cv::Mat SegmentBackground(const cv::Mat& grey)
{
    return SegmentParticlesBackground(grey).mask;
}