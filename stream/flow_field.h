#pragma once

#include <deque>
#include <vector>

// The flow's speed across the channel, as particle-tracking velocimetry measures it: the
// rates of the confident links (a particle's motion along the flow against the flow's
// reference motion) gathered in bands of equal width across the flow, the latest few
// dozen per band. Each band fits a straight line to the rates of its own samples and its
// neighbours' (more neighbours while they are few), robustly, so that a profile's slope
// near a wall does not pull the band towards its neighbours; its spread is that of the
// samples about the line. Between band centres the rate is interpolated, beyond the outer
// ones the outer line extended. It predicts where a particle that has not been linked
// yet will be.
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
    struct Sample {
        double across, rate;
    };
    // A band's line: rate = rate + slope x (across - centre).
    struct Line {
        Rate at;
        double slope = 0.0;
    };
    int Band(double across) const;
    double Centre(int band) const;
    Line Fit(int band) const;

    double extent;
    int samplesPerBand;
    std::vector<std::deque<Sample>> samples;
    std::vector<Line> lines;
    int total = 0;
};
