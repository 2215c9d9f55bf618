#pragma once

// Area of a dark particle seen through a Gaussian blur, from its darkness relative to
// the local background (d = 1 - grey / background). Blur moves darkness around but
// keeps its sum: the summed darkness of a particle is contrast x area whatever the
// blur. What blur hides is the contrast of a particle that is not much wider than the
// blur, whose centre never reaches its own grey level. A Gaussian-weighted mean of the
// darkness at the particle's centre is the contrast times the share of that Gaussian,
// widened by the blur, that falls inside the particle; with the particle taken as an
// ellipse of the same axis ratio, sum and centre value together give the area.

// Share of an isotropic Gaussian of standard deviation `s`, centred on an ellipse with
// semi-axes a and b, that lies inside the ellipse. 1 for s = 0.
double GaussianMassInEllipse(double a, double b, double s);

struct BlurredArea {
    double area = 0.0;      // pixels of the particle
    double contrast = 0.0;  // its own darkness, summed darkness / area
};

// Area and contrast of an elliptic particle with axis ratio `ratio` (minor / major,
// 0 < ratio <= 1) from its summed darkness and the mean darkness under a Gaussian
// weight of standard deviation weightSigma centred on it, seen through a blur of
// standard deviation blurSigma. Zero area when the sum or the centre value is not
// positive.
BlurredArea AreaFromDarkness(double darknessSum, double centreDarkness, double ratio, double blurSigma,
                             double weightSigma);
