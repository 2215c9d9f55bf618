#pragma once

#include <deque>
#include <vector>

// The flow's speed across the channel, as particle-tracking velocimetry measures it: the
// rates of the confident links (a particle's motion along the flow against the flow's
// reference motion) gathered in bands of equal width across the flow, the latest few
// dozen per band. A band's rate is the median of its samples and its spread their median
// absolute deviation; a band with too few samples borrows its neighbours', and between
// band centres the rate is interpolated, so that a profile is followed smoothly. It
// predicts where a particle that has not been linked yet will be.
class FlowField {
public:
    struct Rate {
        double rate = 1.0;    // against the reference motion
        double spread = 0.5;  // standard deviation of the particles' rates there (robust)
        int samples = 0;      // behind the estimate; 0: nothing known, rate 1
    };

    // `extent`: pixels across the flow, from 0.
    explicit FlowField(double extent = 0.0, int bands = 16, int samplesPerBand = 48);

    void Add(double across, double rate);
    // Takes the samples added since the last call into the bands' estimates.
    void Update();
    Rate At(double across) const;
    bool Empty() const { return total == 0; }

private:
    int Band(double across) const;
    Rate Pooled(int band) const;

    double extent;
    int samplesPerBand;
    std::vector<std::deque<double>> samples;
    std::vector<Rate> bands;
    int total = 0;
};
