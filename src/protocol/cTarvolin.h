#pragma once
#include "common/Variant.h"
#include "protocol/FieldTexts.h"
#include "protocol/XTimer.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

class OPCServer;
class OPCItem;
class ItemTable;

// The engine of one panel line: assembles received characters into CR-ended
// lines, decodes the lines that begin with "W" into the connection's 478 items,
// and supervises the line with a one-second tick (communication error after
// TimeoutError silent seconds, zones reset after as long without a frame of their
// own, fault and programming flags held 100 seconds).
//
// Use: ClaveProtocol / setIndex, InitialUpdate once, ProtocolStart, then feed
// every received burst to Receive; ProtocolStop when the line closes.
class cTarvolin {
public:
    // A partial line longer than this (once every complete line is consumed) is
    // discarded, and so is the rest of it up to its CR: a panel line is 37
    // characters, so this is noise or a line without end.
    static constexpr int RxBufferLimit = 500;
    static constexpr std::int16_t DefaultTimeoutError = 100; // also the least allowed
    static constexpr std::int16_t FlagHoldTicks = 100;
    static constexpr int TickPeriodMs = 1000;
    static constexpr int Zones = 4, Groups = 4, Detectors = 16;
    static constexpr int ItemsPerConnection = 2 + Zones * (7 + Groups * 4 + Detectors * 6); // 478

    struct ZoneStatus {
        std::int16_t State = 0;       // 0 unknown, 1 OFF, 2 ON
        std::int16_t ZoneSilence = 0; // ticks left before the zone is reset
        std::int16_t PrgIng = 0;      // hold of StsPrgIng
        std::int16_t PrgUsr = 0;      // flag of StsPrgUsr (no countdown)
        std::int16_t FailPower = 0;   // hold of StsFailPower (runs while ON)
        std::int16_t FailBat = 0;     // hold of StsFailBat (runs while ON)
        std::int16_t FailGroup = 0;   // hold of StsFailGroup
    };

    // How a value reaches the toolkit item (the main window's PasaDatoValue). By
    // default the item's SetVQT, errors ignored.
    using ValueWriter = std::function<void(OPCItem *item, const Variant &value, std::int16_t quality)>;
    // Every complete line as received, CR included (Latin-1 bytes), for the
    // communications monitor: QString::fromLatin1(line) is the text VerTramas shows.
    using FrameObserver = std::function<void(QByteArrayView line)>;

    cTarvolin();
    ~cTarvolin();
    cTarvolin(const cTarvolin &) = delete;
    cTarvolin &operator=(const cTarvolin &) = delete;

    void setIndex(std::int16_t index) { Index_ = index; }
    const QString &ClaveProtocol() const { return ClaveProtocol_; }
    void setClaveProtocol(const QString &key) { ClaveProtocol_ = key; }
    // Test write of an item of this protocol: nothing to do, its items are read-only.
    void Pasa_Dato(OPCItem *tag);

    // Start may raise RuntimeError when no system timer is available; the engine
    // then takes input but has no supervision until it is stopped and started again.
    void ProtocolStart();
    void ProtocolStop();

    // Reads the TimeoutError limit, puts the line in communication error and
    // creates the connection's items at the end of `items` and in `server`. Once;
    // both must outlive the engine. Failures go to the trace log, never out.
    void InitialUpdate(OPCServer &server, ItemTable &items);

    // Received characters, one per byte, in arrival order.
    void Receive(QByteArrayView r);

    void setValueWriter(ValueWriter writer) { writer_ = std::move(writer); }
    FrameObserver frameObserver;

    // State, for the shell and for tests.
    std::int16_t Index() const { return Index_; }
    bool Running() const { return Running_ != 0; }
    std::int16_t CommError() const { return CommError_; }
    std::int32_t Silence() const { return Silence_; }
    std::int16_t TimeoutError() const { return TimeoutError_; }
    bool Saturated() const { return Saturated_; }
    int ErrCommIndex() const { return ErrCommIndex_; }
    int NPanelIndex() const { return NPanelIndex_; }
    const ZoneStatus &zone(int z) const { return Zones_[std::size_t(z - 1)]; }
    int rxBufferSize() const { return int(RxBuffer_.size()); }
    // Partial lines discarded for exceeding RxBufferLimit.
    std::uint64_t discardedLines() const { return discardedLines_; }
    // Lines beginning with "W" received since construction.
    std::uint64_t frames() const { return frames_; }
    // The supervision timer; XTimerSupport::TimerProc with its TimerID runs one tick.
    XTimer &timer() { return mTimeOut2_; }

private:
    // Decodes one line (without its CR) that begins with "W".
    void ProcessFrame(QByteArrayView frame);
    // The items of one zone / group / detector.
    enum ZoneField { ZState, ZStateStr, ZPrgIng, ZPrgUsr, ZFailPower, ZFailBat, ZFailGroup, ZoneFieldCount };
    enum GroupField { GState, GStateStr, GGas, GGasStr, GroupFieldCount };
    enum DetectorField { DGroup, DValue, DState, DStateStr, DGas, DGasStr, DetectorFieldCount };

    void mTimeOut2_Tick();
    void SetCommError(std::int16_t state);
    void SetItemValue(const Variant &value, int index);
    void setZoneItem(int z, ZoneField f, const Variant &value);
    void setGroupItem(int z, int g, GroupField f, const Variant &value);
    void setDetectorItem(int z, int d, DetectorField f, const Variant &value);
    void SetZoneState(int zone, std::uint8_t state, const QString &text);
    void ResetZone(int zone);
    void ClearZoneFlags(int zone);
    void ClearZoneDetail(int zone);
    // The measure as a float; false when it does not fit one (nothing is written).
    bool ParseMeasure(QByteArrayView text, float &measure);
    void processGroupReport(int z, QByteArrayView frame);
    int createItem(const QString &name, const QString &text, const Variant &initial, OPCServer &server);

    std::array<ZoneStatus, Zones> Zones_{};
    bool Saturated_ = false;
    std::int32_t Running_ = 0;
    QByteArray RxBuffer_;
    bool skippingToCR_ = false;
    std::uint64_t discardedLines_ = 0;
    std::uint64_t frames_ = 0;
    int ErrCommIndex_ = 0;
    int NPanelIndex_ = 0;
    std::int16_t CommError_ = 0;
    QString ClaveProtocol_;
    std::int16_t Index_ = 0;
    std::int32_t Silence_ = 0;
    std::int16_t TimeoutError_ = DefaultTimeoutError;
    XTimer mTimeOut2_;

    ItemTable *items_ = nullptr;
    ValueWriter writer_;
    // ItemTable indexes of the line's items by zone, group and detector.
    std::array<std::array<int, ZoneFieldCount>, Zones + 1> zoneIndex_{};
    std::array<std::array<std::array<int, GroupFieldCount>, Groups + 1>, Zones + 1> groupIndex_{};
    std::array<std::array<std::array<int, DetectorFieldCount>, Detectors + 1>, Zones + 1> detectorIndex_{};
    FieldTexts texts_;
};
