// The link: lifecycle, line assembly and supervision of one panel line.
#include "protocol/cTarvolin.h"
#include "opc/ItemTable.h"
#include "opc/OPCItem.h"

#include <cstring>

cTarvolin::cTarvolin()
{
    mTimeOut2_.setInterval(TickPeriodMs);
    mTimeOut2_.Tick = [this] { mTimeOut2_Tick(); };
}

cTarvolin::~cTarvolin()
{
    mTimeOut2_.Tick = nullptr;
    try {
        mTimeOut2_.setEnabled(false);
    } catch (...) {
    }
}

void cTarvolin::Pasa_Dato(OPCItem *) {}

void cTarvolin::ProtocolStart()
{
    Running_ = 1;
    mTimeOut2_.setEnabled(true);
}

void cTarvolin::ProtocolStop()
{
    mTimeOut2_.setEnabled(false);
    Running_ = 0;
}

void cTarvolin::Receive(QByteArrayView r)
{
    if (Running_ == 0 || r.isEmpty())
        return;
    if (skippingToCR_) {
        const void *cr = std::memchr(r.data(), '\r', std::size_t(r.size()));
        if (!cr)
            return;
        r = r.sliced(static_cast<const char *>(cr) - r.data() + 1);
        skippingToCR_ = false;
    }
    // Lines are cut straight from the input when nothing is pending, so the common
    // case copies nothing.
    const bool buffered = !RxBuffer_.isEmpty();
    if (buffered)
        RxBuffer_.append(r);
    const QByteArrayView data = buffered ? QByteArrayView(RxBuffer_) : r;
    qsizetype start = 0;
    while (start < data.size()) {
        const void *cr = std::memchr(data.data() + start, '\r', std::size_t(data.size() - start));
        if (!cr)
            break;
        const qsizetype end = static_cast<const char *>(cr) - data.data();
        const QByteArrayView line = data.sliced(start, end - start + 1);
        // A failing step skips only itself; nothing may escape into the port's slot.
        try {
            if (frameObserver)
                frameObserver(line);
        } catch (const std::exception &) {
        }
        try {
            if (line[0] == 'W') {
                ++frames_;
                ProcessFrame(line.chopped(1));
            }
        } catch (const std::exception &) {
        }
        start = end + 1;
    }
    const qsizetype rest = data.size() - start;
    if (rest > RxBufferLimit) {
        RxBuffer_.clear();
        ++discardedLines_;
        skippingToCR_ = true;
    } else if (buffered) {
        RxBuffer_.remove(0, start);
    } else if (rest > 0) {
        RxBuffer_ = data.sliced(start).toByteArray();
    }
}

void cTarvolin::mTimeOut2_Tick()
{
    if (CommError_ == 0) {
        // Counted in 32 bits: a 16-bit count would overflow at a limit of 32767.
        ++Silence_;
        if (Silence_ > TimeoutError_)
            SetCommError(1);
    }
    const Variant zero(std::int16_t(0));
    for (int z = 1; z <= Zones; ++z) {
        ZoneStatus &s = Zones_[std::size_t(z - 1)];
        if (s.State != 0 && s.ZoneSilence > 0) {
            if (--s.ZoneSilence == 0)
                ResetZone(z);
        }
        if (s.PrgIng > 0 && --s.PrgIng == 0)
            setZoneItem(z, ZPrgIng, zero);
        if (s.FailPower > 0 && s.State == 2 && --s.FailPower == 0)
            setZoneItem(z, ZFailPower, zero);
        if (s.FailBat > 0 && s.State == 2 && --s.FailBat == 0)
            setZoneItem(z, ZFailBat, zero);
        if (s.FailGroup > 0 && --s.FailGroup == 0)
            setZoneItem(z, ZFailGroup, zero);
    }
}

void cTarvolin::SetCommError(std::int16_t state)
{
    SetItemValue(Variant(state), ErrCommIndex_);
    CommError_ = state;
}

void cTarvolin::SetItemValue(const Variant &value, int index)
{
    // Without InitialUpdate there is nothing to write; a write must never fail the
    // tick, which would stop supervision for good.
    if (!items_ || !items_->contains(index))
        return;
    OPCItem *item = (*items_)[index].Tag;
    try {
        if (writer_)
            writer_(item, value, Quality::Good);
        else if (item)
            item->SetVQT(value, Quality::Good);
    } catch (const std::exception &) {
        // The toolkit refused the value; the next frame tries again.
    }
}
