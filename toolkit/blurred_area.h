#pragma once

// Area of a dark particle seen through a Gaussian blur, from its darkness relative to
// the local background (d = 1 - grey / background).
//
// The particle is taken as an ellipse of contrast c (its own darkness) seen through a
// Gaussian of standard deviation `blur`. A darkness sum under a centred Gaussian weight
// exp(-r^2 / 2 w^2) is then c 2 pi w^2 times the mass of a Gaussian of width
// hypot(blur, w) inside the ellipse (blur and weight are Gaussians, so they combine
// into one), and the weighted second moments follow the same way. Two such sums of a
// near width weigh the particle's blurred outline against its whole darkness: their
// ratio gives the area whatever the contrast, and the weighted second moments the axis
// ratio. With widths of about 0.75 and 0.95 of hypot(r / sqrt 2, blur) (r the
// particle's equivalent radius) the noise spreads the area within a few percent of the
// Cramer-Rao bound of a blurred particle of unknown contrast.

// Share of an isotropic Gaussian of standard deviation `s`, centred on an ellipse with
// semi-axes a and b, that lies inside the ellipse. 1 for s = 0.
double GaussianMassInEllipse(double a, double b, double s);

// The same mass and its second moments along the ellipse's axes (the integral of
// x^2 and y^2 times the normalised Gaussian over the ellipse).
struct GaussianMoments {
    double mass = 0.0;
    double xx = 0.0;  // along the a axis
    double yy = 0.0;  // along the b axis
};
GaussianMoments GaussianMomentsInEllipse(double a, double b, double s);

// Darkness of an ellipse of unit contrast with the given area and axis ratio
// (minor / major), blurred, summed under the weight exp(-r^2 / 2 w^2) centred on it.
double WeightedDarkness(double area, double ratio, double blur, double weight);

// What a particle shows under two centred Gaussian weights, narrow < wide: the
// weighted darkness sums and, under the wide weight, the spread of the weighted second
// moments along the particle's long and short axes (largest minus smallest eigenvalue
// of sum(w d x x^T) / sum(w d)).
struct WeightedSums {
    double narrowWeight = 0.0, wideWeight = 0.0;
    double narrow = 0.0, wide = 0.0;
    double anisotropy = 0.0;
    double areaGuess = 0.0;  // where the search for the area starts (0: a disc as wide as the wide weight)
};

struct BlurredEllipse {
    double area = 0.0;      // pixels of the particle
    double contrast = 0.0;  // its own darkness
    double ratio = 1.0;     // minor / major axis
    double slope = 0.0;     // d ln(narrow / wide) / d ln(area): how strongly the sums answer to the area
};

// Area, contrast and axis ratio from the sums; zero area when a sum is not positive.
BlurredEllipse EllipseFromWeightedSums(const WeightedSums& sums, double blur);
