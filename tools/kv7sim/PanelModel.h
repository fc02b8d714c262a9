#pragma once
// A simulated gas-detection panel: four zones of four groups and sixteen detectors
// whose measures drift, cross their alarm levels and come back, with zones going
// off and on and fault and programming reports now and then. nextFrame() gives the
// panel's next line (without CR) in the fixed-position layout panels use:
//
//   W01 1Gr1 CO       Auto01  12.5  Alarma
//   |pp z tt g gas     gst dd measur dstate     (columns 1, 2-3, 5, 6-7, 8, 10-12,
//                                               18-21, 22-23, 25-30, 32-37)
//
// Header-only so the simulator, the tests and the benchmark share one generator.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace kv7sim {

class PanelModel {
public:
    static constexpr int Zones = 4, Groups = 4, Detectors = 16;

    struct Detector {
        int group = 1;
        double measure = 0.0;
        bool saturated = false;
        bool sensorFault = false;
    };
    struct Group {
        const char *gas = "CO ";
        bool manual = false;
    };
    struct Zone {
        bool on = true;
        int offFrames = 0;      // frames left before an OFF zone comes back
        int faultRepeats = 0;   // fault reports still to repeat
        const char *fault = ""; // "FR", "FB", "FG"
        std::array<Group, Groups + 1> groups{};
        std::array<Detector, Detectors + 1> detectors{};
    };

    explicit PanelModel(int panelNumber = 1, std::uint32_t seed = 1) : panel_(panelNumber % 100), rng_(seed ? seed : 1)
    {
        for (int z = 1; z <= Zones; ++z) {
            Zone &zone = zones_[z];
            for (int g = 1; g <= Groups; ++g)
                zone.groups[g].gas = randomGas();
            for (int d = 1; d <= Detectors; ++d) {
                zone.detectors[d].group = (d - 1) / 4 + 1;
                zone.detectors[d].measure = baseline(zone.groups[zone.detectors[d].group].gas);
            }
        }
    }

    // What the last frame said, field by field as sent.
    struct Report {
        int zone = 0;
        std::string type;
        int group = 0, detector = 0;
        std::string gas, groupState, measure, detectorState;
    };
    const Report &last() const { return last_; }

    const Zone &zone(int z) const { return zones_[z]; }
    int panel() const { return panel_; }

    // The next line of the panel, without its CR.
    std::string nextFrame()
    {
        Zone &zone = zones_[zone_];
        std::string frame;
        if (!zone.on) {
            if (--zone.offFrames <= 0)
                zone.on = true;
            frame = header("OF");
            advanceZone();
            return frame;
        }
        if (zone.faultRepeats > 0 && next(8) == 0) {
            --zone.faultRepeats;
            return header(zone.fault);
        }
        switch (next(400)) {
        case 0:
            zone.on = false;
            zone.offFrames = 3 + int(next(6));
            return header("OF");
        case 1:
            zone.on = false;
            zone.offFrames = 3 + int(next(6));
            return header(next(2) ? "PI" : "PU");
        case 2:
        case 3: {
            static const char *const faults[] = {"FR", "FB", "FG"};
            zone.fault = faults[next(3)];
            zone.faultRepeats = 2 + int(next(4));
            return header(zone.fault);
        }
        default: break;
        }
        frame = groupReport(zone, detector_);
        if (++detector_ > Detectors) {
            detector_ = 1;
            advanceZone();
        }
        return frame;
    }

    // The published texts the decoder should produce for a detector's state field.
    static const char *stateText(const Zone &zone, const Detector &det, int seed)
    {
        if (det.sensorFault)
            return seed % 2 ? "ErrSen" : "DetFau";
        const double level = det.measure / alarmLevel(zone.groups[det.group].gas);
        if (level >= 1.0)
            return seed % 2 ? "Alarma" : "Alarm ";
        if (level >= 0.8)
            return "Preala";
        if (level >= 0.6)
            return seed % 2 ? "Aviso " : "Warn. ";
        return "      ";
    }

private:
    static double baseline(const char *gas) { return std::strcmp(gas, "O2 ") == 0 ? 20.9 : 0.0; }
    static double alarmLevel(const char *gas)
    {
        if (std::strcmp(gas, "CO2") == 0)
            return 5000.0;
        if (std::strcmp(gas, "EXP") == 0)
            return 20.0;
        if (std::strcmp(gas, "O2 ") == 0)
            return 23.5;
        return 50.0;
    }

    std::uint32_t next(std::uint32_t bound)
    {
        // xorshift32: fast, deterministic for a seed, good enough for traffic.
        rng_ ^= rng_ << 13;
        rng_ ^= rng_ >> 17;
        rng_ ^= rng_ << 5;
        return rng_ % bound;
    }

    void advanceZone() { zone_ = zone_ % Zones + 1; }

    const char *randomGas()
    {
        static const char *const gases[] = {"CO ", "CO2", "NO ", "NO2", "H2S", "SO2",
                                            "CL2", "HCL", "O2 ", "EXP", "NH3"};
        return gases[next(11)];
    }

    std::string header(const char *type)
    {
        last_ = Report();
        last_.zone = zone_;
        last_.type = type;
        char buf[16];
        std::snprintf(buf, sizeof buf, "W%02d %d%s", panel_, zone_, type);
        return buf;
    }

    std::string groupReport(Zone &zone, int d)
    {
        Detector &det = zone.detectors[d];
        Group &group = zone.groups[det.group];
        const double alarm = alarmLevel(group.gas);
        // A random walk pulled back to the baseline, with the odd excursion.
        const double base = baseline(group.gas);
        double step = (double(next(2001)) - 1000.0) / 1000.0 * alarm * 0.05;
        if (next(50) == 0)
            step += alarm * 0.5;
        det.measure += step - (det.measure - base) * 0.1;
        if (det.measure < 0.0)
            det.measure = 0.0;
        det.saturated = det.measure > alarm * 2.0 && next(3) == 0;
        if (det.saturated)
            det.measure = alarm * 2.0;
        // Faults and manual operation are rare and short.
        if (next(det.sensorFault ? 20 : 3000) == 0)
            det.sensorFault = !det.sensorFault;
        if (next(group.manual ? 60 : 2000) == 0)
            group.manual = !group.manual;
        // Now and then a group is fitted with another sensor type.
        if (next(3000) == 0)
            group.gas = randomGas();

        // The group state follows its worst detector.
        double worst = 0.0;
        for (int i = 1; i <= Detectors; ++i)
            if (zone.detectors[i].group == det.group)
                worst = std::max(worst, zone.detectors[i].measure / alarm);
        const char *groupState = group.manual   ? (next(2) ? "Manu" : "Stop")
                                 : worst >= 1.0 ? "Ven2"
                                 : worst >= 0.8 ? "Ven1"
                                                : "Auto";

        char measure[16];
        if (det.saturated)
            std::snprintf(measure, sizeof measure, "%s", next(2) ? "SATURA" : "Satura");
        else if (std::strcmp(group.gas, "O2 ") == 0)
            std::snprintf(measure, sizeof measure, "%5.1f%%", std::min(det.measure, 999.9));
        else if (std::strcmp(group.gas, "CO2") == 0)
            std::snprintf(measure, sizeof measure, "%6d", int(std::min(det.measure, 999999.0)));
        else
            std::snprintf(measure, sizeof measure, "%6.1f", std::min(det.measure, 9999.9));

        const char *detectorState = stateText(zone, det, int(next(2)));
        last_ = Report{zone_, "Gr", det.group, d, group.gas, groupState, std::string(measure, 6), detectorState};
        char buf[64];
        std::snprintf(buf, sizeof buf, "W%02d %dGr%d %s     %s%02d %.6s %s", panel_, zone_, det.group, group.gas,
                      groupState, d, measure, detectorState);
        return buf;
    }

    int panel_;
    std::uint32_t rng_;
    int zone_ = 1;
    int detector_ = 1;
    std::array<Zone, Zones + 1> zones_{};
    Report last_;
};

} // namespace kv7sim
